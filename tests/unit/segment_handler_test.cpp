#include "stream/segment_handler.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/printf_text.h"
#include "decode/message_names.h"
#include "test_support.h"

namespace vestrel {
namespace {

using test::Bytes;
using test::cstr;
using test::dword;
using test::FrameShape;
using test::header;
using test::msg;
using test::tcpFrame;

constexpr uint16_t kClientPort = 50000;

Bytes toServer(const Bytes& payload, FrameShape shape = {}) { return tcpFrame(kClientPort, kBncsPort, payload, shape); }
Bytes fromServer(const Bytes& payload, FrameShape shape = {}) {
  return tcpFrame(kBncsPort, kClientPort, payload, shape);
}

std::string summaryLine(const char* direction, uint8_t id, const std::string& details) {
  return test::printfText("%s -> [0x%2.2X] %-20s -> ", direction, id, messageName(id, DecoderSet::Classic)) + details;
}
// details: what the message's decoder prints; a bare newline without one.
std::string sentLine(uint8_t id, const std::string& details = "\n") { return summaryLine("Sent", id, details); }
std::string rcvdLine(uint8_t id, const std::string& details = "\n") { return summaryLine("Rcvd", id, details); }

std::string pingDetails(uint32_t cookie) { return test::printfText("Ping value: 0x%X\n", cookie); }

// Many small messages back to back, and their lines.
Bytes pings(size_t count) {
  Bytes all;
  for (size_t i = 0; i < count; ++i) all = all + msg(0x25, dword(static_cast<uint32_t>(i)));
  return all;
}
std::string sentPingLines(size_t count) {
  std::string all;
  for (size_t i = 0; i < count; ++i) all += sentLine(0x25, pingDetails(static_cast<uint32_t>(i)));
  return all;
}

struct FramesCase {
  const char* name;
  std::vector<Bytes> frames;
  std::string printed;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const FramesCase& c, std::ostream* out) { *out << c.name; }

class HandleSegment : public ::testing::TestWithParam<FramesCase> {};

TEST_P(HandleSegment, PrintsEveryMessageOnce) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  for (const Bytes& frame : GetParam().frames) handleSegment(monitor, frame);
  EXPECT_EQ(output.text(), GetParam().printed);
}

const Bytes kPing = msg(0x25, dword(0x1234));
const std::string kSentPing = sentLine(0x25, pingDetails(0x1234));
const std::string kRcvdPing = rcvdLine(0x25, pingDetails(0x1234));

const Bytes kAuthInfo =
    msg(0x50, dword(0) + test::raw("68XIRATS") + dword(0xD3) + Bytes(20, 0) + cstr("USA") + cstr("United States"));
const std::string kSentAuthInfo = sentLine(0x50,
                                           "Protocol ID:\t 0\n"
                                           "\t\t\t\t       Platform ID:\t 68XI\n"
                                           "\t\t\t\t       Program ID:\t RATS\n"
                                           "\t\t\t\t       Version byte:\t 0xD3\n"
                                           "\t\t\t\t       Product Langauge: 0\n"
                                           "\t\t\t\t       Local IP:\t 0.0.0.0\n"
                                           "\t\t\t\t       Timezone Bias:\t 0\n"
                                           "\t\t\t\t       Locale ID:\t 0\n"
                                           "\t\t\t\t       Langauge ID:\t 0\n"
                                           "\t\t\t\t       Country Abbr.:\t USA\n"
                                           "\t\t\t\t       Country Name:\t United States\n");

INSTANTIATE_TEST_SUITE_P(
    Frames, HandleSegment,
    ::testing::Values(
        FramesCase{"OneMessageToServer", {toServer(kPing)}, kSentPing},
        // A connection direction's bytes go into the stream once: copies
        // and overlaps are cut, a late segment that fills a gap is taken.
        FramesCase{"RetransmissionShownOnce",
                   {toServer(kPing, {.sequence = 100}), toServer(kPing, {.sequence = 100})},
                   kSentPing},
        FramesCase{"OverlapTakesOnlyNewBytes",
                   {toServer(kPing, {.sequence = 100}), toServer(test::tail(kPing, 4) + kPing, {.sequence = 104})},
                   kSentPing + kSentPing},
        FramesCase{"LateSegmentFillingAGapTaken",
                   {toServer(kPing, {.sequence = 100}), toServer(kPing, {.sequence = 116}),
                    toServer(kPing, {.sequence = 108}), toServer(kPing, {.sequence = 116})},
                   kSentPing + kSentPing + kSentPing},
        FramesCase{
            "CopyOfARunsExtensionDropped",
            {toServer(kPing, {.sequence = 100}), toServer(kPing, {.sequence = 116}), toServer(kPing, {.sequence = 124}),
             toServer(kPing, {.sequence = 124}), toServer(kPing, {.sequence = 108})},
            kSentPing + kSentPing + kSentPing + kSentPing},
        FramesCase{"SynOfPortsUsedAgainStartsAfresh",
                   {toServer(kPing, {.sequence = 1000}), toServer({}, {.sequence = 500, .flags = 0x02}),
                    toServer(kPing, {.sequence = 501})},
                   kSentPing + kSentPing},
        FramesCase{"OneMessageFromServer", {fromServer(kPing)}, kRcvdPing},
        FramesCase{"PortToItselfIsSent", {tcpFrame(kBncsPort, kBncsPort, kPing)}, kSentPing},
        FramesCase{"OtherPortsIgnored", {tcpFrame(80, 443, kPing), toServer(kPing)}, kSentPing},
        FramesCase{"UdpIgnored",
                   {toServer(kPing, {.protocol = 17}), fromServer(msg(0x0A))},
                   rcvdLine(0x0A, "Unique name: , Statstring: , Account name: \n")},
        FramesCase{"TwoMessagesInOneSegment", {toServer(kPing + kAuthInfo)}, kSentPing + kSentAuthInfo},
        FramesCase{"SplitOverTwoSegments",
                   {toServer(Bytes(kAuthInfo.begin(), kAuthInfo.begin() + 10)),
                    toServer(Bytes(kAuthInfo.begin() + 10, kAuthInfo.end()))},
                   kSentAuthInfo},
        FramesCase{"HeaderSplitInsideLengthField",
                   {toServer({0xFF, 0x25, 0x08}), toServer({0x00, 1, 2, 3, 4})},
                   sentLine(0x25, pingDetails(0x04030201))},
        FramesCase{
            "LabelledByTheSegmentThatCompletesIt",
            {fromServer(Bytes(kPing.begin(), kPing.begin() + 5)), toServer(Bytes(kPing.begin() + 5, kPing.end()))},
            kSentPing},
        FramesCase{"BareAcknowledgementChangesNothing", {toServer({}), toServer(Bytes{0x01, 0x02} + kPing)}, kSentPing},
        FramesCase{"FirstPayloadSyncsToMarker", {toServer(Bytes{0x01} + kAuthInfo)}, kSentAuthInfo},
        FramesCase{"FirstPayloadWithoutMarkerDropped", {toServer({0x01, 0x02, 0x03}), fromServer(kPing)}, kRcvdPing},
        FramesCase{"LoneByteIgnored", {toServer(kPing), toServer({0x01}), toServer(kPing)}, kSentPing + kSentPing},
        FramesCase{
            "LoneMarkerStartsAMessage",
            {toServer(kPing), toServer({0xFF}), toServer({0x25}), toServer({0x08, 0x00}), toServer(dword(0x1234))},
            kSentPing + kSentPing},
        FramesCase{"MarkerInLastPendingByteAfterResync",
                   {toServer(kPing), toServer({0x01, 0x02, 0x00, 0x00, 0x05, 0xFF}),
                    toServer(Bytes(kPing.begin() + 1, kPing.end()))},
                   kSentPing + kSentPing},
        // A hash can begin with bytes that read as a header of their own.
        FramesCase{"HeaderAloneThenBodyThatReadsLikeAHeader",
                   {toServer(kPing), toServer(header(0xFF, 0x25, 8)), toServer(header(0xFF, 0x25, 8))},
                   kSentPing + sentLine(0x25, pingDetails(0x000825FF))},
        FramesCase{"LoneByteInsideAMessageKept",
                   {toServer(Bytes(kPing.begin(), kPing.begin() + 3)), toServer(Bytes{kPing[3]}),
                    toServer(Bytes(kPing.begin() + 4, kPing.end()))},
                   kSentPing},
        FramesCase{"LoneLastByteOfAMessageKept",
                   {toServer(kPing), toServer(Bytes(kPing.begin(), kPing.end() - 1)), toServer(Bytes{kPing.back()}),
                    toServer(kPing)},
                   kSentPing + kSentPing + kSentPing},
        FramesCase{"ProtocolByteWithFirstMessageOfLaterConnection",
                   {toServer(kPing), toServer(Bytes{0x01} + kAuthInfo), fromServer(kPing)},
                   kSentPing + kSentAuthInfo + kRcvdPing},
        FramesCase{"ZeroLengthHeaderDoesNotStall",
                   {toServer(kPing), toServer(header(0xFF, 0x25, 0) + Bytes{7, 7} + kPing)},
                   kSentPing + kSentPing},
        FramesCase{"GarbageWithoutMarkerDroppedWhole",
                   {toServer(kPing), toServer({0x01, 0x02, 0x03, 0x20, 0x05}), toServer(kPing)},
                   kSentPing + kSentPing},
        // Lengths the buffer can hold are trusted whatever the first byte.
        FramesCase{"UnmarkedBytesWithFittingLengthCutAsMessage",
                   {toServer(kPing), toServer({0x01, 0x02, 0x08, 0x00, 1, 2, 3, 4})},
                   kSentPing + sentLine(0x02)},
        FramesCase{"LargePayloadOfSmallMessages", {toServer(pings(500))}, sentPingLines(500)},
        FramesCase{"LargePayloadAfterPendingBytes",
                   {toServer(Bytes(kPing.begin(), kPing.begin() + 3)),
                    toServer(Bytes(kPing.begin() + 3, kPing.end()) + pings(700))},
                   kSentPing + sentPingLines(700)},
        FramesCase{
            "TooLongMessageThenNormalOnes",
            {fromServer(header(0xFF, 0x0F, 6000) + Bytes(2996, 0xFF)), fromServer(Bytes(3000, 0x41)), fromServer(kPing),
             toServer(kAuthInfo)},
            "Rcvd -> [0x0F] SID_CHATEVENT        -> (too long to decode: 6000 bytes)\n" + kRcvdPing + kSentAuthInfo},
        FramesCase{"TooLongMessageInOneSegmentWithFollowers",
                   {toServer(header(0xFF, 0x0E, 5000) + Bytes(4996, 0x41) + kPing)},
                   "Sent -> [0x0E] SID_CHATCOMMAND      -> (too long to decode: 5000 bytes)\n" + kSentPing},
        FramesCase{"MaximumLengthMessageIsShown",
                   {toServer(msg(0x0F, Bytes(4092, 0x41)) + kPing)},
                   sentLine(0x0F) + kSentPing}),
    [](const auto& info) { return std::string(info.param.name); });

// Frames whose headers disagree with what was captured.
struct MalformedCase {
  const char* name;
  Bytes frame;
  bool printsPing;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.name; }

class MalformedFrame : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFrame, ReadsOnlyCapturedBytes) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  monitor.syncPending = false;
  handleSegment(monitor, GetParam().frame);
  EXPECT_EQ(output.text(), GetParam().printsPing ? kSentPing : "");
  // Whatever came before, a good frame is still shown.
  handleSegment(monitor, toServer(msg(0x0A)));
  EXPECT_TRUE(output.text().ends_with(sentLine(0x0A, "Username: , Statstring: \n")));
}

Bytes truncated(Bytes frame, size_t length) {
  frame.resize(length);
  return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MalformedFrame,
    ::testing::Values(
        MalformedCase{"IpOptions", toServer(kPing, {.ipHeaderWords = 6}), true},
        MalformedCase{"TcpOptions", toServer(kPing, {.tcpHeaderWords = 8}), true},
        MalformedCase{"EthernetPaddingNotPayload", toServer(kPing) + Bytes(10, 0x00), true},
        MalformedCase{"TotalLengthBeyondCapture", toServer(kPing, {.totalLengthAdjust = 400}), true},
        MalformedCase{"TotalLengthBelowHeaders", toServer(kPing, {.overrideTotal = true, .totalLength = 30}), false},
        MalformedCase{"TotalLengthZero", toServer(kPing, {.overrideTotal = true, .totalLength = 0}), false},
        MalformedCase{"IpHeaderLengthBelowMinimum", toServer(kPing, {.ipHeaderWords = 2}), false},
        MalformedCase{"TcpHeaderLengthBelowMinimum", toServer(kPing, {.tcpHeaderWords = 3}), false},
        MalformedCase{"IpHeaderBeyondCapture", truncated(toServer(kPing, {.ipHeaderWords = 15}), 14 + 40), false},
        MalformedCase{"TcpHeaderBeyondCapture", truncated(toServer(kPing, {.tcpHeaderWords = 15}), 14 + 20 + 30),
                      false},
        MalformedCase{"OnlyEthernetHeader", truncated(toServer(kPing), 14), false},
        MalformedCase{"ShorterThanEthernetHeader", truncated(toServer(kPing), 5), false},
        MalformedCase{"EmptyFrame", Bytes{}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Garbage on the chat port, then a segment that starts a message: whatever
// the garbage left pending is dropped, and every message of that segment is
// shown exactly.
struct GarbageCase {
  const char* name;
  std::vector<Bytes> garbage;  // payloads, each one segment to the server
};

void PrintTo(const GarbageCase& c, std::ostream* out) { *out << c.name; }

// A talk event: its id (0x0F) in the length field's high byte keeps a
// length joined from two leftover bytes under the buffer's size.
const Bytes kTalk = msg(0x0F, dword(5) + dword(0) + dword(32) + Bytes(12, 0) + cstr("bob") + cstr("hi"));
const std::string kRcvdTalk = rcvdLine(0x0F, "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: hi\n");
const Bytes kEnterChatReply = msg(0x0A, cstr("alice") + cstr("PX3W 0 0") + cstr("alice"));
const std::string kRcvdEnterChatReply =
    rcvdLine(0x0A, "Unique name: alice, Statstring: PX3W 0 0, Account name: alice\n");

class GarbageThenSegment : public ::testing::TestWithParam<GarbageCase> {
 protected:
  // Prints the lines after a good start and the garbage, which print nothing.
  std::string printedAfterGarbage(const Bytes& segment) {
    test::ConsoleCapture output;
    OutputSettings options;
    Monitor monitor(options);
    handleSegment(monitor, toServer(kPing));
    for (const Bytes& garbage : GetParam().garbage) handleSegment(monitor, toServer(garbage));
    EXPECT_EQ(output.text(), kSentPing);
    handleSegment(monitor, fromServer(segment));
    return output.text().substr(kSentPing.size());
  }
};

TEST_P(GarbageThenSegment, OneMessageIsShown) { EXPECT_EQ(printedAfterGarbage(kTalk), kRcvdTalk); }

TEST_P(GarbageThenSegment, EveryMessageOfAPackedSegmentIsShown) {
  EXPECT_EQ(printedAfterGarbage(kTalk + kPing + kEnterChatReply + kTalk),
            kRcvdTalk + kRcvdPing + kRcvdEnterChatReply + kRcvdTalk);
}

TEST_P(GarbageThenSegment, MessageCutOverTwoSegmentsIsShown) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  monitor.syncPending = false;
  for (const Bytes& garbage : GetParam().garbage) handleSegment(monitor, toServer(garbage));
  const std::string before = output.text();
  handleSegment(monitor, fromServer(test::head(kEnterChatReply, 9)));
  handleSegment(monitor, fromServer(test::tail(kEnterChatReply, 9) + kPing));
  EXPECT_EQ(output.text().substr(before.size()), kRcvdEnterChatReply + kRcvdPing);
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, GarbageThenSegment,
    ::testing::Values(GarbageCase{"TextWithoutMarker", {test::raw("GET / HTTP/1.1\r\nHost: x\r\n\r\n")}},
                      GarbageCase{"TwoBytesWithoutMarker", {{0x01, 0x02}}},
                      GarbageCase{"ThreeBytesWithoutMarker", {{0x13, 0x37, 0x00}}},
                      GarbageCase{"MarkerAlone", {{0x00, 0xFF}}}, GarbageCase{"MarkerAndId", {{0x00, 0xFF, 0x12}}},
                      GarbageCase{"MarkerIdAndHalfALength", {{0x00, 0xFF, 0x12, 0x34}}},
                      GarbageCase{"LengthBelowTheHeader", {header(0xFF, 0x25, 2)}},
                      GarbageCase{"LengthZeroWithBytes", {header(0xFF, 0x25, 0) + Bytes{7, 7, 7}}},
                      GarbageCase{"UnmarkedLengthBeyondTheBuffer", {header(0x41, 0x42, 0x2000) + Bytes{1, 2, 3}}},
                      GarbageCase{"GarbageOverSeveralSegments",
                                  {{0x00, 0x01}, {0xFE, 0xFD, 0xFC}, {0x80}, {0x7F, 0xFF}}},
                      // Markers with lengths below the header among random bytes, ending in
                      // a marker and an id.
                      GarbageCase{"RandomBytes", {test::hexBytes("3A9C0120FF120200E477FF010000B5C24190FE0B13FF3D")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HandleSegment, MessageLinePrintedOnlyWhenComplete) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  handleSegment(monitor, toServer(Bytes(kAuthInfo.begin(), kAuthInfo.begin() + 20)));
  EXPECT_EQ(output.text(), "");
  handleSegment(monitor, toServer(Bytes(kAuthInfo.begin() + 20, kAuthInfo.end())));
  EXPECT_EQ(output.text(), kSentAuthInfo);
}

TEST(HandleSegment, LongStreamOfGarbageNeverStalls) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  Bytes garbage;
  for (uint32_t i = 0; i < 20000; ++i) garbage.push_back(static_cast<uint8_t>(i * 2654435761u >> 13));
  for (size_t offset = 0; offset < garbage.size(); offset += 1400) {
    const size_t end = std::min(garbage.size(), offset + 1400);
    handleSegment(monitor, toServer(Bytes(garbage.begin() + static_cast<long>(offset),
                                          garbage.begin() + static_cast<long>(end))));
  }
  // The garbage may leave a partial message or bytes owed to a long one;
  // whatever it left, the stream is drained by what follows it.
  EXPECT_LE(monitor.buffer.count(), kStreamCapacity);
  const size_t before = output.text().size();
  for (int i = 0; i < 3000; ++i) handleSegment(monitor, toServer(kPing));
  EXPECT_GT(output.text().size(), before);
  EXPECT_TRUE(output.text().ends_with(kSentPing));
}

std::string fileText(FILE* file) {
  EXPECT_EQ(std::fflush(file), 0);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  return text;
}

// The log holds the dump of every message cut from the stream, whatever its
// id, in stream order, and nothing else.
TEST(TrafficLog, HoldsOnlyTheDumps) {
  test::ConsoleCapture output;
  OutputSettings options;
  options.showUnknown = true;
  options.logFile.reset(std::tmpfile());
  ASSERT_NE(options.logFile, nullptr);
  Monitor monitor(options);
  handleSegment(monitor, toServer(Bytes{0x01} + kPing));
  handleSegment(monitor, fromServer(header(0xFF, 0x0F, 5000) + Bytes(200, 0x41)));
  handleSegment(monitor, fromServer(Bytes(4796, 0x41) + msg(0x99, Bytes{0x20})));
  handleSegment(monitor, toServer(test::head(kPing, 3)));
  handleSegment(monitor, toServer(test::tail(kPing, 3)));

  EXPECT_EQ(fileText(options.logFile.get()),
            "Sent packet 0x25, Length 8:\n"
            "0000 FF 25 08 00 34 12 00 00                         \xFF%..4...\n\n"
            "Rcvd packet 0x99, Length 5:\n"
            "0000 FF 99 05 00 20                                  \xFF\x99.. \n\n"
            "Sent packet 0x25, Length 8:\n"
            "0000 FF 25 08 00 34 12 00 00                         \xFF%..4...\n\n");
  EXPECT_EQ(output.text(), kSentPing + "Rcvd -> [0x0F] SID_CHATEVENT        -> (too long to decode: 5000 bytes)\n" +
                               rcvdLine(0x99) + kSentPing);
}

// A shortened text on the console is whole in the log.
TEST(TrafficLog, ShortenedTextIsWholeInTheDump) {
  test::ConsoleCapture output;
  OutputSettings options;
  options.logFile.reset(std::tmpfile());
  Monitor monitor(options);
  handleSegment(monitor, toServer(msg(0x0E, cstr("0123456789012345678901234567890123456789"))));
  EXPECT_EQ(output.text(), sentLine(0x0E, "012345678901234567890123456789012 [...]\n"));
  EXPECT_EQ(fileText(options.logFile.get()),
            "Sent packet 0x0E, Length 45:\n"
            "0000 FF 0E 2D 00 30 31 32 33 34 35 36 37 38 39 30 31 \xFF.-.012345678901\n"
            "0010 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 2345678901234567\n"
            "0020 38 39 30 31 32 33 34 35 36 37 38 39 00          890123456789.\n\n");
}

// A log that cannot be written is given up with one message; the console
// goes on.
TEST(TrafficLog, FailedWriteIsReportedOnceAndLoggingStops) {
  test::ConsoleCapture output;
  OutputSettings options;
  options.logFileName = "/dev/full";
  options.logFile.reset(std::fopen("/dev/full", "w"));
  ASSERT_NE(options.logFile, nullptr);
  Monitor monitor(options);
  handleSegment(monitor, toServer(kPing + kPing));
  handleSegment(monitor, toServer(kPing));
  EXPECT_EQ(output.text(), kSentPing +
                               "Error: Unable to write to log file /dev/full (No space left on device); "
                               "logging stopped.\n" +
                               kSentPing + kSentPing);
  EXPECT_EQ(monitor.printer.log, nullptr);
}

struct NameCase {
  uint8_t id;
  const char* column;  // the name as it stands in the summary line
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const NameCase& c, std::ostream* out) { *out << int{c.id}; }

class SummaryName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SummaryName, PaddedToTwentyColumns) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  monitor.syncPending = false;
  handleSegment(monitor, toServer(msg(GetParam().id)));
  const std::string id = test::printfText("%2.2X", GetParam().id);
  EXPECT_TRUE(output.text().starts_with("Sent -> [0x" + id + "] " + GetParam().column + " -> ")) << output.text();
}

INSTANTIATE_TEST_SUITE_P(
    Names, SummaryName,
    ::testing::Values(NameCase{0x25, "SID_PING            "}, NameCase{0x57, "SID_AUTH_ACCOUNTUPGRADE"},
                      NameCase{0x54, "SID_AUTH_ACCOUNTLOGONPROOF\t"}, NameCase{0x56, "SID_AUTH_ACCOUNTCHANGEPROOF \t"},
                      NameCase{0x58, "SID_AUTH_ACCOUNTUPGRADEPROOF\t"}, NameCase{0x40, "SID_STARTVERSIONING2"},
                      NameCase{0x00, "SID_NULL            "}, NameCase{0x99, "SID_UNK0x99         "},
                      NameCase{0x01, "SID_UNK0x01         "}, NameCase{0xFF, "SID_UNK0xFF         "}));

TEST(MessageNames, SixtyNineKnownIds) {
  int known = 0;
  for (int id = 0; id < 256; ++id) {
    if (std::string(messageName(static_cast<uint8_t>(id), DecoderSet::Classic)).rfind("SID_UNK", 0) != 0) ++known;
  }
  EXPECT_EQ(known, 69);
  EXPECT_STREQ(messageName(0x7F, DecoderSet::Classic), "SID_CLANMEMBERUPDATE");
  EXPECT_STREQ(messageName(0x7E, DecoderSet::Classic), "SID_UNK0x7E");
}

}  // namespace
}  // namespace vestrel

namespace vestrel {
namespace {

// The shared stream follows the ports it is given, and only those.
TEST(SharedStreamPorts, FollowsTheChosenPortOnly) {
  test::ConsoleCapture output;
  OutputSettings options;
  Monitor monitor(options);
  monitor.ports = {7000};
  handleSegment(monitor, test::tcpFrame(50000, kBncsPort, msg(0x25, dword(1))));
  handleSegment(monitor, test::tcpFrame(50000, 7000, msg(0x25, dword(0x1234))));
  EXPECT_EQ(output.text(), "Sent -> [0x25] SID_PING             -> Ping value: 0x1234\n");
}

}  // namespace
}  // namespace vestrel
