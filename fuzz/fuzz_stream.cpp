// Raw stream bytes into the stream buffer, in the chunks the input chooses;
// every message cut out is decoded as sent and as received, with both
// decoder sets and every combination of -u and -s, on the console and in
// JSON, and dumped as the log would dump it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/decode_details.h"
#include "fuzz_input.h"
#include "output/console.h"
#include "output/hex_dump.h"
#include "output_check.h"
#include "stream/message_printer.h"
#include "stream/stream_buffer.h"

namespace vestrel::fuzz {

namespace {

void decodeOneWay(const std::vector<uint8_t>& message, bool sent, const DisplaySettings& options,
                  const StreamRecord& console) {
  MessageReader reader;
  reader.attach(message.data());
  const size_t before = console.written;
  decodeDetails(reader, sent, options);
  if (std::fflush(vestrel::console()) != 0) fail("the console stream refused a write");
  // The recording stream updates console as decodeDetails writes.
  // cppcheck-suppress knownConditionTrueFalse
  if (console.written == before || console.last != '\n') fail("a decoder left its line unfinished");
  if (console.rawControl) fail("a control byte or malformed UTF-8 reached the console unescaped");
  reader.attach(message.data());
  decodeJsonFields(reader, sent, options);
  if (std::fflush(vestrel::console()) != 0) fail("the console stream refused a write");
  // cppcheck-suppress knownConditionTrueFalse
  if (console.last != '}') fail("a JSON object left unfinished");
  if (console.rawControl) fail("a control byte or malformed UTF-8 reached the JSON unescaped");
}

void dumpBothWays(const std::vector<uint8_t>& message) {
  MessageReader reader;
  reader.attach(message.data());
  for (const char* label : {"Sent", "Rcvd"}) {
    const HexDump dump = formatHexDump(reader.bytes(), label);
    const size_t length = dump.text().size();
    if (length == 0 || length > hexDumpCapacity(message.size())) fail("a dump outgrew its capacity");
    if (dump.text().back() != '\n') fail("a dump does not end with its empty line");
  }
}

// The message is copied to a buffer of exactly its size, so a decoder
// reading past its end reads past the allocation.
void decodeEveryWay(std::span<const uint8_t> bytes, const StreamRecord& console) {
  const std::vector<uint8_t> message(bytes.begin(), bytes.end());
  if (message.size() < MessageHeader::kLength || message.size() > kStreamCapacity ||
      MessageHeader::read(message.data()).length != message.size()) {
    fail("the buffer cut a message that disagrees with its header");
  }
  for (const bool sent : {true, false}) {
    for (const DecoderSet decoders : {DecoderSet::Classic, DecoderSet::Full}) {
      for (const bool showUnknown : {false, true}) {
        for (const bool fullStrings : {false, true}) {
          decodeOneWay(message, sent, {.showUnknown = showUnknown, .fullStrings = fullStrings, .decoders = decoders},
                       console);
        }
      }
    }
  }
  dumpBothWays(message);
}

void drain(StreamBuffer& buffer, const StreamRecord& console) {
  for (;;) {
    switch (buffer.front()) {
      case StreamBuffer::Front::NeedMore: return;
      case StreamBuffer::Front::Message: {
        MessageReader reader;
        buffer.extract(reader);
        decodeEveryWay(reader.bytes(), console);
        break;
      }
      case StreamBuffer::Front::OutOfStep: buffer.dropToNextMarker(); break;
      case StreamBuffer::Front::TooLong: buffer.dropFrontMessage(); break;
    }
  }
}

// In pieces the buffer takes, as the segment handler feeds it; a piece too
// big must be refused whole.
void feedChunk(StreamBuffer& buffer, std::span<const uint8_t> chunk, StreamRecord& console) {
  while (!chunk.empty()) {
    const size_t acceptable = buffer.acceptable();
    if (acceptable == 0) fail("a drained buffer accepts nothing");
    if (chunk.size() > acceptable) {
      const uint16_t count = buffer.count();
      if (buffer.append(chunk.data(), static_cast<int32_t>(chunk.size())) || buffer.count() != count) {
        fail("the buffer took more than it said it would");
      }
    }
    const size_t piece = std::min(chunk.size(), acceptable);
    if (!buffer.append(chunk.data(), static_cast<int32_t>(piece)))
      fail("the buffer refused what it said it would take");
    chunk = chunk.subspan(piece);
    drain(buffer, console);
  }
}

}  // namespace

}  // namespace vestrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vestrel;
  using namespace vestrel::fuzz;
  StreamRecord consoleRecord;
  FILE* consoleStream = openRecordingStream(consoleRecord);
  setConsole(consoleStream);
  {
    StreamBuffer buffer;
    RecordReader input({data, size});
    while (!input.done()) feedChunk(buffer, input.nextRecord(), consoleRecord);
  }
  setConsole(nullptr);
  if (std::fclose(consoleStream) != 0) fail("the console stream refused a write");
  return 0;
}
