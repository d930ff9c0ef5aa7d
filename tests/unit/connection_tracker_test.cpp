// Each connection reassembled on its own: sequence order, copies dropped,
// gaps held and then lost, the protocol byte, and the lines of -C.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include "decode/message_names.h"
#include "stream/connection_tracker.h"
#include "stream/message_printer.h"
#include "test_support.h"

namespace vestrel {
namespace {

using test::Bytes;
using test::dword;
using test::msg;

constexpr uint32_t kClientStart = 1000;  // the client's SYN; its protocol byte is at 1001
constexpr uint32_t kServerStart = 5000;
constexpr uint8_t kSyn = 0x02, kAck = 0x10, kFin = 0x01, kRst = 0x04;

struct Segment {
  bool toServer;
  uint32_t sequence;
  Bytes payload;
  uint8_t flags = kAck;
  uint16_t clientPort = 40000;
};

Segment syn(uint16_t port = 40000) { return {true, kClientStart, {}, kSyn, port}; }
Segment synAck(uint16_t port = 40000) { return {false, kServerStart, {}, kSyn | kAck, port}; }
Segment protocolByte(uint8_t value = 0x01, uint16_t port = 40000) {
  return {true, kClientStart + 1, {value}, kAck, port};
}

const Bytes kPing1 = msg(0x25, dword(0x11));
const Bytes kPing2 = msg(0x25, dword(0x22));
const std::string kSent1 = "Sent -> [0x25] SID_PING             -> Ping value: 0x11\n";
const std::string kSent2 = "Sent -> [0x25] SID_PING             -> Ping value: 0x22\n";
const std::string kRcvd1 = "Rcvd -> [0x25] SID_PING             -> Ping value: 0x11\n";
constexpr uint32_t kFirst = kClientStart + 2;  // the client's first message byte
constexpr uint32_t kPingSize = 8;

struct TrackerCase {
  const char* name;
  std::vector<Segment> segments;
  std::string printed;
  uint64_t lostBytes = 0;
};

void PrintTo(const TrackerCase& c, std::ostream* out) { *out << c.name; }

Bytes frameOf(const Segment& segment) {
  const uint16_t client = segment.clientPort;
  return segment.toServer
             ? test::tcpFrame(client, 6112, segment.payload, {.sequence = segment.sequence, .flags = segment.flags})
             : test::tcpFrame(6112, client, segment.payload, {.sequence = segment.sequence, .flags = segment.flags});
}

struct TrackerRun {
  test::ConsoleCapture output;
  OutputSettings settings;
  MessagePrinter printer;
  ConnectionTracker tracker;
  explicit TrackerRun(bool showConnections, size_t capacity = kMaxConnections,
                      size_t heldMemory = kDefaultTotalHeldMemory)
      : printer(settings, {.connection = showConnections}),
        tracker(printer, {6112}, {.connections = capacity, .totalHeldMemory = heldMemory}) {}
  void feed(const std::vector<Segment>& segments, time_t second = 0) {
    for (const Segment& segment : segments) tracker.handleFrame({second, 0}, frameOf(segment));
  }
};

class Tracker : public ::testing::TestWithParam<TrackerCase> {};

TEST_P(Tracker, ShowsEachMessageOnceInOrder) {
  TrackerRun run(false);
  run.feed(GetParam().segments);
  run.tracker.finish();
  EXPECT_EQ(run.output.text(), GetParam().printed);
  EXPECT_EQ(run.tracker.counts().lostBytes, GetParam().lostBytes);
}

const std::vector<Segment> kOpen = {syn(), synAck(), protocolByte()};

std::vector<Segment> opened(std::vector<Segment> more) {
  std::vector<Segment> all = kOpen;
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Tracker,
    ::testing::Values(
        TrackerCase{"InOrder", opened({{true, kFirst, kPing1 + kPing2}}), kSent1 + kSent2},
        TrackerCase{"Retransmitted", opened({{true, kFirst, kPing1}, {true, kFirst, kPing1}}), kSent1},
        TrackerCase{"KeepAliveProbe",
                    opened({{true, kFirst, kPing1},
                            {true, kFirst + kPingSize - 1, {0x00}},
                            {true, kFirst + kPingSize, kPing2}}),
                    kSent1 + kSent2},
        TrackerCase{"Swapped", opened({{true, kFirst + kPingSize, kPing2}, {true, kFirst, kPing1}}), kSent1 + kSent2},
        TrackerCase{"OverlapFirstCopyWins",
                    opened({{true, kFirst, test::head(kPing1, 6)}, {true, kFirst + 4, test::tail(kPing1, 4) + kPing2}}),
                    kSent1 + kSent2},
        TrackerCase{"SplitAndRetransmittedHalf",
                    opened({{true, kFirst, test::head(kPing1, 3)},
                            {true, kFirst, test::head(kPing1, 3)},
                            {true, kFirst + 3, test::tail(kPing1, 3)}}),
                    kSent1},
        // The gap never fills: its bytes are lost, and the direction takes
        // up the stream at the next header behind it.
        TrackerCase{"GapLostAtTheEnd",
                    opened({{true, kFirst, test::head(kPing1, 5)}, {true, kFirst + kPingSize + 2, kPing2}}), kSent2, 5},
        TrackerCase{"ServerUnaffectedByClientLoss",
                    opened({{true, kFirst + 3, kPing2}, {false, kServerStart + 1, kPing1}}), kRcvd1 + kSent2, 3},
        TrackerCase{"NotTheChatProtocol",
                    {syn(), synAck(), protocolByte(0x02), {true, kFirst, kPing1}, {false, kServerStart + 1, kPing1}},
                    ""},
        TrackerCase{"MidWaySynchronisesOnAHeader",
                    {{true, 777, Bytes{0x01, 0x02} + kPing1}, {false, 999, test::tail(kPing2, 3) + kPing1}},
                    kSent1 + kRcvd1},
        TrackerCase{"SequenceNumbersWrap",
                    {{true, 0xFFFFFFFA, test::head(kPing1, 3)}, {true, 0xFFFFFFFD, test::tail(kPing1, 3) + kPing2}},
                    kSent1 + kSent2},
        // Two clients whose messages are split and interleaved: each is
        // completed by its own bytes only.
        TrackerCase{"InterleavedClientsSplitMessages",
                    {syn(40000),
                     syn(40001),
                     protocolByte(1, 40000),
                     protocolByte(1, 40001),
                     {true, kFirst, test::head(kPing1, 5), kAck, 40000},
                     {true, kFirst, test::head(kPing2, 2), kAck, 40001},
                     {true, kFirst + 5, test::tail(kPing1, 5), kAck, 40000},
                     {true, kFirst + 2, test::tail(kPing2, 2), kAck, 40001}},
                    kSent1 + kSent2},
        TrackerCase{"PortsUsedAgainAfterRst",
                    opened({{true, kFirst, test::head(kPing1, 5), kAck | kRst},
                            {true, kClientStart + 50, {}, kSyn},
                            {true, kClientStart + 51, Bytes{0x01} + kPing2}}),
                    kSent2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Past the bound a gap is given up at once, not at the end. Met mid-way,
// so that the window is the wide one of an unseen handshake.
TEST(TrackerBounds, HeldBytesPastTheBoundAreDeclaredLost) {
  TrackerRun run(false);
  run.feed({{true, kFirst, kPing1}, {true, kFirst + kPingSize, kPing2}});
  const uint32_t ahead = kFirst + 2 * kPingSize + 10;
  const Bytes chunk(size_t{32} * 1024, 0x00);
  for (uint32_t i = 0; i < 7; ++i) run.feed({{true, ahead + i * 32768, chunk}});
  EXPECT_EQ(run.tracker.counts().lostBytes, 0U) << "within the bound the gap may still fill";
  run.feed({{true, ahead + 7 * 32768, chunk}});
  EXPECT_EQ(run.tracker.counts().lostBytes, 10U);
}

// The bound counts what is held, bookkeeping included: one-byte segments
// in reverse order, none joining another, cannot hold more.
TEST(TrackerBounds, TinySegmentsCountWhatTheyCost) {
  TrackerRun run(false);
  run.feed({{true, kFirst, kPing1}, {true, kFirst + kPingSize, kPing2}});
  for (uint32_t i = 20000; i > 0; --i) {
    run.feed({{true, kFirst + 2 * kPingSize + 2 * i, {0x00}}});
    ASSERT_LE(run.tracker.heldMemory(), kHeldMemoryLimit);
  }
  EXPECT_GT(run.tracker.counts().lostBytes, 0U);
}

// Past the total bound the direction that began holding first gives up.
TEST(TrackerBounds, TotalBoundGivesUpTheOldestHoldFirst) {
  TrackerRun run(false, kMaxConnections, 100 * 1024);
  const Bytes chunk(size_t{60} * 1024, 0x00);
  for (const uint16_t port : {40000, 40001}) {
    run.feed({{true, kFirst, kPing1, kAck, port}, {true, kFirst + kPingSize, kPing2, kAck, port}});
  }
  run.feed({{true, kFirst + 20, chunk, kAck, 40000}});
  run.feed({{true, kFirst + 30, chunk, kAck, 40001}});
  EXPECT_EQ(run.tracker.counts().lostBytes, 4U) << "the first connection's 4-byte gap";
  EXPECT_LE(run.tracker.heldMemory(), size_t{100} * 1024);
}

TEST(TrackerBounds, FullTableForgetsTheConnectionIdleLongest) {
  TrackerRun run(false, 2);
  run.feed({syn(40000), syn(40001), syn(40002)});
  EXPECT_EQ(run.tracker.openConnections(), 2U);
  EXPECT_EQ(run.tracker.counts().forgotten, 1U);
}

// With -C: the client end in front of every line, continuation lines kept
// under the details, and a line for each change of the connection.
TEST(TrackerLines, ConnectionLinesAndAlignedContinuations) {
  TrackerRun run(true);
  const Bytes channels = msg(
      0x0B, test::cstr("A") + test::cstr("B") + test::cstr("C") + test::cstr("D") + test::cstr("E") + test::cstr(""));
  run.feed(opened({{false, kServerStart + 1, channels}, {true, kFirst + 3, kPing2}}));
  run.feed({{true, kFirst + 3 + kPingSize, {}, kFin},
            {false, kServerStart + 1 + static_cast<uint32_t>(channels.size()), {}, kFin}});
  run.feed({{true, 7, kPing1, kAck, 40009}}, kIdleSeconds + 1);
  run.tracker.finish();
  const std::string client = "127.0.0.1:40000         ";
  EXPECT_EQ(run.output.text(),
            client + "Conn -> opened to 127.0.0.1:6112, protocol byte 0x01\n" + client +
                "Rcvd -> [0x0B] SID_GETCHANNELLIST   -> Channels: A, B, C, D,\n" + std::string(client.size(), ' ') +
                "\t\t\t\t       E.\n" + client + "Sent -> (3 bytes lost)\n" + client + kSent2 + client +
                "Conn -> closed (FIN)\n" +
                "127.0.0.1:40009         Conn -> to 127.0.0.1:6112, open before the capture began\n" +
                "127.0.0.1:40009         " + kSent1);
}

}  // namespace
}  // namespace vestrel
