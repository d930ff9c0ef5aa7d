// Each connection reassembled on its own: sequence order, copies dropped,
// gaps held and then lost, the protocol byte, and the lines of -C.
#include <gtest/gtest.h>

#include <cctype>
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
  TrackerRun run(false, kMaxConnections, size_t{100} * 1024);
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

// Connection stories with -C, every event shown: what a receiving end
// would take, told as the connection lives, is hurt and ends.
struct Step {
  Segment segment;
  time_t second = 0;
  uint32_t acknowledgement = 0;
  uint16_t window = 0xFFFF;
};

struct Story {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> lines;  // "40001 text" names another client port
  bool captureEnds = false;
  size_t capacity = kMaxConnections;
};

void PrintTo(const Story& story, std::ostream* out) { *out << story.name; }

std::string shown(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    const bool otherPort = line.size() > 6 && line[5] == ' ' && std::isdigit(static_cast<unsigned char>(line[0]));
    text += "127.0.0.1:" + (otherPort ? line.substr(0, 5) : "40000") + " " + (otherPort ? line.substr(6) : line) + "\n";
  }
  return text;
}

class Stories : public ::testing::TestWithParam<Story> {};

TEST_P(Stories, ShowWhatTheReceiverTookAndSayWhatItDidNot) {
  TrackerRun run(true, GetParam().capacity);
  for (const Step& step : GetParam().steps) {
    const Segment& segment = step.segment;
    const test::FrameShape shape{.sequence = segment.sequence,
                                 .flags = segment.flags,
                                 .acknowledgement = step.acknowledgement,
                                 .window = step.window};
    run.tracker.handleFrame({step.second, 0}, segment.toServer
                                                  ? test::tcpFrame(segment.clientPort, 6112, segment.payload, shape)
                                                  : test::tcpFrame(6112, segment.clientPort, segment.payload, shape));
  }
  if (GetParam().captureEnds) run.tracker.finish();
  EXPECT_EQ(run.output.text(), shown(GetParam().lines));
}

Step c(uint32_t sequence, Bytes payload, uint8_t flags = kAck, uint16_t port = 40000) {
  return {{true, sequence, std::move(payload), flags, port}};
}
Step s(uint32_t sequence, Bytes payload, uint8_t flags = kAck, uint16_t port = 40000) {
  return {{false, sequence, std::move(payload), flags, port}};
}
Step at(time_t second, Step step) {
  step.second = second;
  return step;
}
Step acking(uint32_t acknowledgement, Step step) {
  step.acknowledgement = acknowledgement;
  return step;
}
std::vector<Step> openAt(time_t second, uint16_t port = 40000) {
  return {at(second, {syn(port)}), at(second, {synAck(port)}), at(second, {protocolByte(1, port)})};
}
std::vector<Step> story(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::string kOpened = "Conn -> opened to 127.0.0.1:6112, protocol byte 0x01";
const std::string kMidway = "Conn -> to 127.0.0.1:6112, open before the capture began";
const std::string kPing1Line = kSent1.substr(0, kSent1.size() - 1);
const std::string kPing2Line = kSent2.substr(0, kSent2.size() - 1);
const std::string kRcvd2Line = "Rcvd -> [0x25] SID_PING             -> Ping value: 0x22";
constexpr uint32_t kServerFirst = kServerStart + 1;
const std::vector<Step> kOpenNow = openAt(0);

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, Stories,
    ::testing::Values(
        Story{"HeldSegmentReleasedByAnOverlappingRetransmission",
              story({kOpenNow, {c(kFirst + kPingSize, kPing2), c(kFirst, kPing1 + test::head(kPing2, 2))}}),
              {kOpened, kPing1Line, kPing2Line}},
        Story{"ForgottenConnectionComesBackAsNew",
              story({{c(7, kPing1), c(15, kPing2), c(7, kPing1, kAck, 40001), c(23, kPing1)}}),
              {kMidway, kPing1Line, kPing2Line, "Conn -> forgotten (too many connections)", "40001 " + kMidway,
               "40001 " + kPing1Line, "40001 Conn -> forgotten (too many connections)", kMidway},
              false,
              1},
        Story{"LookupsKeepAConnectionFromIdling",
              story({openAt(0),
                     openAt(0, 40001),
                     {at(800, c(kFirst, kPing1)), at(1000, c(kFirst, kPing2, kAck, 40001))}}),
              {kOpened, "40001 " + kOpened, kPing1Line, "40001 Conn -> closed (idle)", "40001 " + kPing2Line}},
        Story{"IdleOnlyPastTheLimit",
              story({openAt(0), openAt(900, 40001), {at(901, c(kFirst, kPing2, kAck, 40001))}}),
              {kOpened, "40001 " + kOpened, "Conn -> closed (idle)", "40001 " + kPing2Line}},
        Story{"OneFrameStampedAheadClosesNothing",
              story({kOpenNow,
                     {at(7200, c(kFirst, test::head(kPing1, 4))), at(1, c(kFirst + 4, test::tail(kPing1, 4)))}}),
              {kOpened, kPing1Line}},
        Story{"LossBeforeTheProtocolByte",
              {{syn()}, {synAck()}, c(kFirst, kPing1)},
              {"Sent -> (1 bytes lost)", kPing1Line},
              true},
        Story{"RetransmittedSynAckChangesNothing",
              story({kOpenNow, {s(kServerFirst, kPing1), {synAck()}, s(kServerFirst + kPingSize, kPing2)}}),
              {kOpened, "Rcvd -> [0x25] SID_PING             -> Ping value: 0x11", kRcvd2Line}},
        Story{"DataOnTheSyn", {c(kClientStart, Bytes{0x01} + kPing1, kSyn), {synAck()}}, {kOpened, kPing1Line}},
        Story{"HalfCloseKeepsTheOtherDirection",
              story({kOpenNow, {c(kFirst, {}, kFin | kAck), s(kServerFirst, kPing2)}}),
              {kOpened, kRcvd2Line}},
        Story{"CaptureEndFlushesEveryConnection",
              story({openAt(0), openAt(0, 40001), {c(kFirst + 3, kPing1), c(kFirst + 3, kPing2, kAck, 40001)}}),
              {kOpened, "40001 " + kOpened, "Sent -> (3 bytes lost)", kPing1Line, "40001 Sent -> (3 bytes lost)",
               "40001 " + kPing2Line},
              true},
        Story{"BareRstCloses",
              story({kOpenNow, {c(kFirst, {}, kRst), c(kFirst, kPing1)}}),
              {kOpened, "Conn -> closed (RST)", "Sent -> (8 bytes after the RST, not delivered)"}},
        Story{"StrayRstOpensNothing",
              {c(777, {}, kRst), c(777, kPing1, kRst), c(777, kPing1)},
              {kMidway, kPing1Line},
              true},
        Story{"SpoofedSynChangesNothing",
              story({kOpenNow, {c(kFirst, kPing1), c(99999, {}, kSyn), c(kFirst + kPingSize, kPing2)}}),
              {kOpened, kPing1Line, "Sent -> (SYN ignored: the connection is open)", kPing2Line}},
        Story{
            "ServerTakesUpANewSyn",
            story({kOpenNow, {c(9000, {}, kSyn), acking(9001, s(70000, {}, kSyn | kAck)), c(9001, Bytes{1} + kPing2)}}),
            {kOpened, "Sent -> (SYN ignored: the connection is open)", "Conn -> closed (its ports are used again)",
             kOpened, kPing2Line}},
        Story{"FarSegmentsNeverMoveTheStream",
              story({kOpenNow, {c(kFirst + 1000000000, kPing2), c(kFirst, kPing1)}}),
              {kOpened, "Sent -> (8 bytes out of window, not delivered)", kPing1Line}},
        Story{"PastTheHandshakesWindow",
              {Step{syn()}, Step{synAck(), 0, 0, 100}, Step{protocolByte()}, c(kFirst + 200, kPing1)},
              {kOpened, "Sent -> (8 bytes out of window, not delivered)"}},
        Story{"GapLostWhenAcknowledgedPast",
              story({kOpenNow, {c(kFirst + kPingSize, kPing2), acking(kFirst + 2 * kPingSize, s(kServerFirst, {}))}}),
              {kOpened, "Sent -> (8 bytes lost)", kPing2Line}},
        Story{
            "MidwaySwappedShowsBoth", {c(777 + kPingSize, kPing2), c(777, kPing1)}, {kMidway, kPing1Line, kPing2Line}},
        Story{"PortsUsedAgainWithoutASyn",
              story({kOpenNow,
                     {c(kFirst, {}, kFin | kAck), s(kServerFirst, {}, kFin | kAck), c(900000, kPing2),
                      c(900008, kPing1)}}),
              {kOpened, "Conn -> closed (FIN)", kMidway, kPing2Line, kPing1Line}},
        Story{"FirstCopyWinsWhileHeld",
              story({kOpenNow,
                     {c(kFirst + 4, Bytes(4, 'B')), c(kFirst + 4, test::tail(kPing1, 4)),
                      c(kFirst, test::head(kPing1, 4))}}),
              {kOpened, "Sent -> [0x25] SID_PING             -> Ping value: 0x42424242"}},
        Story{"DataOnRstNotDelivered",
              story({kOpenNow, {c(kFirst, kPing1, kRst | kAck)}}),
              {kOpened, "Sent -> (8 bytes on an RST, not delivered)", "Conn -> closed (RST)"}},
        Story{"DataPastFinNotDelivered",
              story({kOpenNow, {c(kFirst, kPing1, kFin | kAck), c(kFirst + kPingSize, kPing2)}}),
              {kOpened, kPing1Line, "Sent -> (8 bytes after its FIN, not delivered)"}},
        Story{"RstOutsideOrInsideTheWindowButNotExact",
              story({kOpenNow, {c(kFirst + 5000000, {}, kRst), c(kFirst + 100, {}, kRst), c(kFirst, kPing1)}}),
              {kOpened, "Sent -> (RST ignored: out of window)", "Sent -> (RST ignored: not at the next byte)",
               kPing1Line}},
        Story{"MessageCutByTheEnd",
              story({kOpenNow, {c(kFirst, test::head(kPing1, 5))}}),
              {kOpened, "Sent -> (incomplete message: 5 of 8 bytes)"},
              true},
        Story{"SkippedBytesAreTold",
              {c(777, Bytes{1, 2} + kPing1), c(787, kPing2)},
              {kMidway, "Sent -> (2 bytes skipped to the next message)", kPing1Line, kPing2Line}}),
    [](const auto& info) { return std::string(info.param.name); });

// The client end and one blank in front of every line, continuation lines
// kept under the details, and a line for each change of the connection.
TEST(TrackerLines, ConnectionLinesAndAlignedContinuations) {
  TrackerRun run(true);
  const Bytes channels = msg(
      0x0B, test::cstr("A") + test::cstr("B") + test::cstr("C") + test::cstr("D") + test::cstr("E") + test::cstr(""));
  run.feed(opened({{false, kServerStart + 1, channels}, {true, kFirst + 3, kPing2}}));
  run.feed({{true, kFirst + 3 + kPingSize, {}, kFin},
            {false, kServerStart + 1 + static_cast<uint32_t>(channels.size()), {}, kFin}});
  run.feed({{true, 7, kPing1, kAck, 40009}}, kIdleSeconds + 1);
  run.tracker.finish();
  const std::string client = "127.0.0.1:40000 ";
  EXPECT_EQ(run.output.text(), client + "Conn -> opened to 127.0.0.1:6112, protocol byte 0x01\n" + client +
                                   "Rcvd -> [0x0B] SID_GETCHANNELLIST   -> Channels: A, B, C, D,\n" +
                                   std::string(client.size() + 39, ' ') + "E.\n" + client + "Sent -> (3 bytes lost)\n" +
                                   client + kSent2 + client + "Conn -> closed (FIN)\n" +
                                   "127.0.0.1:40009 Conn -> to 127.0.0.1:6112, open before the capture began\n" +
                                   "127.0.0.1:40009 " + kSent1);
}

}  // namespace
}  // namespace vestrel
