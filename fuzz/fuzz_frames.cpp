// Captured frames of any link layer, through the same callback the live
// capture uses, into a fresh monitor for each input. See fuzz_input.h for
// the layout.
#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "output/console.h"
#include "output_check.h"
#include "stream/connection_tracker.h"
#include "stream/message_printer.h"
#include "stream/segment_handler.h"

namespace vestrel::fuzz {

namespace {

// Enough for a dump or two, so the failure and its report are reached.
constexpr size_t kFullLogLimit = 300;

void configure(OutputSettings& options, Monitor& monitor, uint8_t settings, StreamRecord& log) {
  options.showUnknown = (settings & kShowUnknown) != 0;
  options.fullStrings = (settings & kFullStrings) != 0;
  monitor.printer.flushEachMessage = (settings & kReadingFile) == 0;
  if ((settings & (kLog | kFullLog)) != 0) {
    if ((settings & kFullLog) != 0) log.limit = kFullLogLimit;
    options.logFileName = "fuzz.log";
    options.logFile.reset(openRecordingStream(log));
    monitor.printer.log = options.logFile.get();
  }
}

// Each frame in a buffer of its own and exactly its size, so a read past
// what was captured is a read past the allocation.
void feedFrame(Monitor& monitor, std::span<const uint8_t> bytes) {
  const std::vector<uint8_t> frame(bytes.begin(), bytes.end());
  pcap_pkthdr header{};
  header.caplen = static_cast<bpf_u_int32>(frame.size());
  header.len = header.caplen;
  handleSegment(reinterpret_cast<unsigned char*>(&monitor), &header, frame.data());
  if (monitor.buffer.count() > kStreamCapacity) fail("stream buffer holds more than its capacity");
}

// A small table, and capture time moving on two minutes a frame, so that
// connections are forgotten for room and expire while idle within one input.
constexpr size_t kFuzzedConnections = 4;
constexpr time_t kSecondsPerFrame = 120;

void trackEveryFrame(RecordReader& input, OutputSettings& options, uint8_t settings, LinkLayer linkLayer) {
  const bool prefixes = (settings & kPrefixes) != 0;
  const bool json = (settings & kJson) != 0;
  options.decoders = DecoderSet::Full;  // as vestrel-trace shows each connection
  MessagePrinter printer(options, {.time = prefixes ? TimeStamp::DateTime : TimeStamp::None,
                                   .connection = prefixes,
                                   .json = json,
                                   .hex = json || prefixes});
  printer.log = options.logFile.get();
  printer.flushEachMessage = (settings & kReadingFile) == 0;
  ConnectionTracker tracker(printer, {6112}, {.connections = kFuzzedConnections});
  tracker.linkLayer = linkLayer;
  for (time_t second = 0; !input.done(); second += kSecondsPerFrame) {
    const std::span<const uint8_t> record = input.nextRecord();
    const std::vector<uint8_t> frame(record.begin(), record.end());
    tracker.handleFrame({second, 0}, frame);
    if (tracker.openConnections() > kFuzzedConnections) fail("the connection table outgrew its bound");
  }
  tracker.finish();
  printer.flush();
}

void checkConsole(const StreamRecord& console) {
  if (console.rawControl) fail("a control byte or malformed UTF-8 reached the console unescaped");
  if (console.written > 0 && console.last != '\n') fail("the console output does not end its last line");
}

}  // namespace

}  // namespace vestrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vestrel;
  using namespace vestrel::fuzz;
  RecordReader input({data, size});
  const LinkLayer linkLayer = linkLayerOf(input.takeByte());
  const uint8_t settings = input.takeByte();

  StreamRecord consoleRecord;
  StreamRecord logRecord;
  FILE* consoleStream = openRecordingStream(consoleRecord);
  setConsole(consoleStream);
  {
    OutputSettings options;
    Monitor monitor(options);
    monitor.linkLayer = linkLayer;
    configure(options, monitor, settings, logRecord);
    if ((settings & kPerConnection) != 0) trackEveryFrame(input, options, settings, linkLayer);
    while (!input.done()) feedFrame(monitor, input.nextRecord());
    // As the programs end a capture: what the log holds is pushed out, and
    // a log that fails only now is reported then.
    flushOutputs(monitor);
    if (std::fflush(consoleStream) != 0) fail("the console stream refused a write");
    checkConsole(consoleRecord);
  }
  setConsole(nullptr);
  if (std::fclose(consoleStream) != 0) fail("the console stream refused a write");
  return 0;
}
