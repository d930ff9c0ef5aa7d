// Micro-benchmarks of the path every captured frame takes: the capture
// callback on typical frames, each decoder through decodeDetails, and the
// log's hex dump. Console and log text go to /dev/null through the same
// buffered streams the programs use, so formatting and buffering count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decode_details.h"
#include "decode/message_reader.h"
#include "output/console.h"
#include "output/hex_dump.h"
#include "protocol_messages.h"
#include "stream/message_printer.h"
#include "stream/segment_handler.h"
#include "tcp_packets.h"

namespace {

using namespace vestrel;
using wire::Bytes;

constexpr wire::Endpoint kClient{{192, 0, 2, 10}, 50412};
constexpr wire::Endpoint kServer{{198, 51, 100, 20}, 6112};

// Console text goes to /dev/null, fully buffered as vestrel-trace's output is into a file.
class NullConsole {
 public:
  NullConsole() : stream_(std::fopen("/dev/null", "w")) {
    if (stream_ != nullptr) static_cast<void>(std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16));
    setConsole(stream_);
  }
  ~NullConsole() {
    setConsole(nullptr);
    if (stream_ != nullptr) static_cast<void>(std::fclose(stream_));
  }
  NullConsole(const NullConsole&) = delete;
  NullConsole& operator=(const NullConsole&) = delete;

 private:
  FILE* stream_;
};

Bytes talk(std::string_view user, std::string_view text) {
  return wire::chatEvent(wire::ChatEvent::Talk, wire::kNoFlags, 94, user, text);
}

// Raw IPv4 frames, as a capture of link type IPv4 hands them over.
Bytes serverFrame(const Bytes& payload) {
  wire::TcpConnection connection(kClient, kServer, 1000, 2000);
  return connection.data(wire::Side::Server, payload).bytes;
}

void runFrames(benchmark::State& state, const Bytes& frame, size_t messagesPerFrame, bool withLog) {
  NullConsole console;
  OutputSettings options;
  if (withLog) options.logFile.reset(std::fopen("/dev/null", "w"));
  Monitor monitor(options);
  monitor.linkLayer = LinkLayer::Ipv4;
  monitor.syncPending = false;
  monitor.printer.flushEachMessage = false;
  for (auto _ : state) handleSegment(monitor, frame);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messagesPerFrame));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}

void OneChatEventPerFrame(benchmark::State& state) {
  runFrames(state, serverFrame(talk("carol", "anyone up for a 2v2?")), 1, false);
}
BENCHMARK(OneChatEventPerFrame);

void OneChatEventPerFrameWithLog(benchmark::State& state) {
  runFrames(state, serverFrame(talk("carol", "anyone up for a 2v2?")), 1, true);
}
BENCHMARK(OneChatEventPerFrameWithLog);

Bytes fourEvents() {
  return talk("bob", "gg") + talk("dave", "did anyone catch the patch notes? they changed the map pool again") +
         wire::chatEvent(wire::ChatEvent::Join, wire::kNoFlags, 168, "erin", "PX3W") + wire::ping(0x6F2A3B10);
}

void FourMessagesPerFrame(benchmark::State& state) { runFrames(state, serverFrame(fourEvents()), 4, false); }
BENCHMARK(FourMessagesPerFrame);

void FourMessagesPerFrameWithLog(benchmark::State& state) { runFrames(state, serverFrame(fourEvents()), 4, true); }
BENCHMARK(FourMessagesPerFrameWithLog);

// A frame of another port: what every unrelated frame on the device costs.
void FrameOfAnotherPort(benchmark::State& state) {
  wire::TcpConnection connection(kClient, {{198, 51, 100, 20}, 443}, 1000, 2000);
  runFrames(state, connection.data(wire::Side::Server, Bytes(200, 0x41)).bytes, 0, false);
}
BENCHMARK(FrameOfAnotherPort);

// Typical messages of each decoded id, both directions.
struct DecoderCase {
  const char* name;
  bool sent;
  Bytes message;
};

std::vector<DecoderCase> decoderCases() {
  using namespace wire;
  return {
      {"C>S 0x0A SID_ENTERCHAT", true, enterChat("alice", "")},
      {"C>S 0x0B SID_GETCHANNELLIST", true, channelListRequest("PX3W")},
      {"C>S 0x0C SID_JOINCHANNEL", true, joinChannel(kFirstJoin, "Lobby")},
      {"C>S 0x0E SID_CHATCOMMAND", true, chatCommand("/w bob ready when you are")},
      {"C>S 0x25 SID_PING", true, ping(0x6F2A3B10)},
      {"C>S 0x3A SID_LOGONRESPONSE2", true, logonResponse2(0x1234, 0x5678, "0123456789abcdef0123", "alice")},
      {"C>S 0x50 SID_AUTH_INFO", true,
       clientAuthInfo({"68XI", "PX3W", 0xD3, "SUne", {127, 0, 0, 1}, -480, 1033, 1033, "USA", "United States"})},
      {"C>S 0x51 SID_AUTH_CHECK", true,
       authCheck({0x1A2B3C4D,
                  0x01180001,
                  0xDEADBEEF,
                  {{26, 0x0E, 0x3CF0A1, "0123456789abcdef0123"}},
                  "war3.exe 07/12/26 06:52:33 471040",
                  "alice"})},
      {"C>S 0x53 SID_AUTH_ACCOUNTLOGON", true, accountLogon("0123456789abcdef0123456789abcdef", "alice")},
      {"S>C 0x0A SID_ENTERCHAT", false, enterChatReply("alice", "PX3W 0 0", "alice")},
      {"S>C 0x0B SID_GETCHANNELLIST", false,
       channelList({"Town Square", "Chat Lounge", "Clan Recruitment", "Tech Support"})},
      {"S>C 0x0F SID_CHATEVENT talk", false, chatEvent(ChatEvent::Talk, kNoFlags, 94, "carol", "anyone up for a 2v2?")},
      {"S>C 0x0F SID_CHATEVENT join", false, chatEvent(ChatEvent::Join, kNoFlags, 168, "erin", "PX3W")},
      {"S>C 0x25 SID_PING", false, ping(0x6F2A3B10)},
      {"S>C 0x3A SID_LOGONRESPONSE2", false, logonResult2(0)},
      {"S>C 0x50 SID_AUTH_INFO", false,
       authChallenge({0, 0x1234ABCD, 0xBADF00D, 0x01DC0F0A1B2C3D4E, "ver-IX86-1.mpq", "A=1 B=2 C=3 4 A=A+S"})},
      {"S>C 0x51 SID_AUTH_CHECK", false, authCheckResult(0, "")},
      {"S>C 0x53 SID_AUTH_ACCOUNTLOGON", false, accountLogonResult(0, "0123456789abcdef0123456789abcdef")},
  };
}

void decodeOne(benchmark::State& state, const DecoderCase& decoderCase) {
  NullConsole console;
  const DisplaySettings options;
  for (auto _ : state) {
    MessageReader reader;
    reader.attach(decoderCase.message.data());
    decodeDetails(reader, decoderCase.sent, options);
    benchmark::DoNotOptimize(vestrel::console());  // hands the text to the stream's buffer
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void hexDumpOf(benchmark::State& state, size_t size) {
  Bytes message = wire::header(0xFF, 0x0F, static_cast<uint16_t>(size));
  message.resize(size, 0x61);
  MessageReader reader;
  reader.attach(message.data());
  for (auto _ : state) benchmark::DoNotOptimize(formatHexDump(reader.bytes(), "Rcvd"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void registerAll() {
  for (const DecoderCase& decoderCase : decoderCases()) {
    benchmark::RegisterBenchmark((std::string("Decode/") + decoderCase.name).c_str(),
                                 [decoderCase](benchmark::State& state) { decodeOne(state, decoderCase); });
  }
  for (const size_t size : {8U, 60U, 512U, 4096U}) {
    benchmark::RegisterBenchmark(("FormatHexDump/" + std::to_string(size) + "B").c_str(),
                                 [size](benchmark::State& state) { hexDumpOf(state, size); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
