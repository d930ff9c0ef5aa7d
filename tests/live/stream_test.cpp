// Real client and server traffic on loopback: how the program cuts the one
// shared stream into messages and labels each line.
#include <ostream>
#include <string>
#include <vector>

#include "live_fixture.h"

namespace vestrel::live {
namespace {

struct Segment {
  Side from;
  Bytes bytes;
};

Segment client(Bytes bytes) { return {Side::Client, std::move(bytes)}; }
Segment server(Bytes bytes) { return {Side::Server, std::move(bytes)}; }

struct StreamCase {
  std::string name;
  std::vector<Segment> segments;  // each one TCP segment, in this order
  std::string lines;              // everything printed after the banner
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

std::string tooLong(Side from, uint8_t id, const char* name, unsigned length) {
  return tooLongLine(from, id, name, length);
}

// Exact text, written out, for the forms where padding and tabs matter.
StreamCase namesAsPrinted() {
  return {"NamesPaddedTabbedAndUnknown",
          {client(msg(0x50) + msg(0x54) + msg(0x56) + msg(0x58) + msg(0x99) + msg(0x00) + msg(0xFF)),
           server(msg(0x0F))},
          "Sent -> [0x50] SID_AUTH_INFO        -> \n"
          "Sent -> [0x54] SID_AUTH_ACCOUNTLOGONPROOF\t -> \n"
          "Sent -> [0x56] SID_AUTH_ACCOUNTCHANGEPROOF \t -> \n"
          "Sent -> [0x58] SID_AUTH_ACCOUNTUPGRADEPROOF\t -> \n"
          "Sent -> [0x99] SID_UNK0x99          -> \n"
          "Sent -> [0x00] SID_NULL             -> \n"
          "Sent -> [0xFF] SID_UNK0xFF          -> \n"
          "Rcvd -> [0x0F] SID_CHATEVENT        -> \n"};
}

StreamCase logonAndChat() {
  const Bytes serverEnterChat = msg(0x0A, cstr("alice") + cstr("PX3W 0 0") + cstr("alice"));
  return {"LogonAndChatConversation",
          {client(byte(0x01)), client(clientAuthInfo()), server(ping(0x1234) + serverAuthInfo()),
           client(ping(0x1234)), client(clientAuthCheck()), server(serverAuthCheck()), client(enterChat()),
           server(serverEnterChat), client(joinChannel("Lobby")),
           server(chatEvent(7, "alice", "Lobby") + chatEvent(1, "bob", "")), client(chatCommand("hello")),
           server(chatEvent(5, "bob", "hi alice"))},
          sentLine(0x50, "SID_AUTH_INFO") + rcvdLine(0x25, "SID_PING") + rcvdLine(0x50, "SID_AUTH_INFO") +
              sentLine(0x25, "SID_PING") + sentLine(0x51, "SID_AUTH_CHECK") +
              rcvdLine(0x51, "SID_AUTH_CHECK") + sentLine(0x0A, "SID_ENTERCHAT") +
              rcvdLine(0x0A, "SID_ENTERCHAT") + sentLine(0x0C, "SID_JOINCHANNEL") +
              rcvdLine(0x0F, "SID_CHATEVENT") + rcvdLine(0x0F, "SID_CHATEVENT") +
              sentLine(0x0E, "SID_CHATCOMMAND") + rcvdLine(0x0F, "SID_CHATEVENT")};
}

StreamCase messageInTwoBytePieces() {
  const Bytes message = chatCommand("one segment at a time");
  StreamCase c{"MessageBuiltFromTwoBytePieces", {}, sentLine(0x0E, "SID_CHATCOMMAND")};
  for (size_t at = 0; at < message.size(); at += 2) c.segments.push_back(client(slice(message, at, at + 2)));
  return c;
}

// 6000 bytes of messages of many sizes, bodies full of 0xFF, in one segment:
// larger than the buffer, so it is taken in pieces and one message spans the
// cut between them.
StreamCase manySmallMessagesInOneSegment() {
  struct NamedId {
    uint8_t id;
    const char* name;
  };
  static constexpr NamedId kIds[] = {{0x0E, "SID_CHATCOMMAND"}, {0x25, "SID_PING"},
                                     {0x0F, "SID_CHATEVENT"},   {0x99, "SID_UNK0x99"},
                                     {0x00, "SID_NULL"},        {0x54, "SID_AUTH_ACCOUNTLOGONPROOF\t"}};
  constexpr size_t kPayloadBytes = 6000;
  Bytes payload;
  std::string lines;
  for (size_t i = 0; payload.size() < kPayloadBytes; ++i) {
    const size_t left = kPayloadBytes - payload.size();
    size_t bodyBytes = std::min((i * 13) % 41, left - 4);
    if (left - 4 - bodyBytes < 4) bodyBytes = left - 4;  // the last message takes the rest
    Bytes body(bodyBytes);
    for (size_t j = 0; j < bodyBytes; ++j) body[j] = static_cast<uint8_t>(0xFF - (i + j) % 3);
    const NamedId& kind = kIds[i % std::size(kIds)];
    payload = payload + msg(kind.id, body);
    lines += rcvdLine(kind.id, kind.name);
  }
  return {"ManySmallMessagesInOneLargeSegment", {server(payload)}, lines};
}

std::vector<StreamCase> framingCases() {
  const Bytes authCheck = clientAuthCheck();
  const Bytes event = chatEvent(5, "bob", "split by the client");
  const Bytes command = chatCommand("split by the server");
  return {
      {"SingleMessage", {client(clientAuthInfo())}, "Sent -> [0x50] SID_AUTH_INFO        -> \n"},
      namesAsPrinted(),
      {"TwoMessagesInOneSegment",
       {client(enterChat() + joinChannel("Lobby"))},
       sentLine(0x0A, "SID_ENTERCHAT") + sentLine(0x0C, "SID_JOINCHANNEL")},
      {"MessageSplitOverTwoSegments",
       {client(head(authCheck, 20)), client(tail(authCheck, 20))},
       sentLine(0x51, "SID_AUTH_CHECK")},
      {"HeaderSplitOverTwoSegments",
       {client(head(authCheck, 2)), client(tail(authCheck, 2))},
       sentLine(0x51, "SID_AUTH_CHECK")},
      messageInTwoBytePieces(),
      {"MessageEndAndNextStartShareASegment",
       {client(head(authCheck, 10)), client(tail(authCheck, 10) + head(event, 7)), client(tail(event, 7))},
       sentLine(0x51, "SID_AUTH_CHECK") + sentLine(0x0F, "SID_CHATEVENT")},
      logonAndChat(),
      {"ServerMessageCompletedByClientSegmentIsSent",
       {server(head(event, 10)), client(tail(event, 10))},
       sentLine(0x0F, "SID_CHATEVENT")},
      {"ClientMessageCompletedByServerSegmentIsRcvd",
       {client(head(command, 6)), server(tail(command, 6))},
       rcvdLine(0x0E, "SID_CHATCOMMAND")},
      manySmallMessagesInOneSegment(),
  };
}

// How the stream starts and how it gets back into step.
std::vector<StreamCase> syncCases() {
  return {
      {"ProtocolByteAloneFirst",
       {client(byte(0x01)), client(clientAuthInfo())},
       sentLine(0x50, "SID_AUTH_INFO")},
      {"ProtocolByteWithTheFirstMessage",
       {client(byte(0x01) + clientAuthInfo())},
       sentLine(0x50, "SID_AUTH_INFO")},
      // Kept, the bytes before the marker would read as an 8-byte message.
      {"BytesBeforeTheFirstMarkerAreDropped",
       {server(header(0x00, 0x42, 8) + byte(0x01) + ping(9))},
       rcvdLine(0x25, "SID_PING")},
      {"FirstPayloadWithoutAMarkerIsDropped",
       {client(header(0x41, 0x42, 8)), client(ping(1))},
       sentLine(0x25, "SID_PING")},
      // Kept, the lone byte would make the next header announce 2085 bytes.
      {"LoneByteBetweenMessagesIsIgnored",
       {client(ping(1)), client(byte(0x01)), client(ping(2))},
       sentLine(0x25, "SID_PING") + sentLine(0x25, "SID_PING")},
      {"LengthBelowTheHeaderIsSkipped",
       {client(ping(1)), client(header(0xFF, 0x25, 2) + ping(2))},
       sentLine(0x25, "SID_PING") + sentLine(0x25, "SID_PING")},
      {"UnmarkedHugeLengthIsSkipped",
       {client(ping(1)), server(header(0x41, 0x42, 0x2000) + ping(2))},
       sentLine(0x25, "SID_PING") + rcvdLine(0x25, "SID_PING")},
      {"UnmarkedSaneLengthIsStillCut",
       {client(ping(1)), client(header(0x00, 0x99, 8) + dword(7) + ping(2))},
       sentLine(0x25, "SID_PING") + sentLine(0x99, "SID_UNK0x99") + sentLine(0x25, "SID_PING")},
  };
}

// Messages near and beyond the 4096-byte buffer.
std::vector<StreamCase> sizeCases() {
  const Bytes fullSize = chatCommand(std::string(4091, 'x'));
  const Bytes big = oversizeMessage(0x50, 6000);
  const Bytes largest = oversizeMessage(0x0E, 65535);
  return {
      {"MessageFillingTheBuffer", {client(fullSize)}, sentLine(0x0E, "SID_CHATCOMMAND")},
      {"FullSizeMessageBehindAPartialOne",
       {client(head(ping(7), 6)), client(tail(ping(7), 6) + fullSize)},
       sentLine(0x25, "SID_PING") + sentLine(0x0E, "SID_CHATCOMMAND")},
      {"MessageOneByteOverTheBuffer",
       {client(oversizeMessage(0x0E, 4097)), client(ping(6))},
       tooLong(Side::Client, 0x0E, "SID_CHATCOMMAND", 4097) + sentLine(0x25, "SID_PING")},
      {"OversizeSpreadOverSegments",
       {client(head(big, 1000)), client(slice(big, 1000, 3000)), client(slice(big, 3000, 5000)),
        client(tail(big, 5000) + ping(1) + enterChat())},
       tooLong(Side::Client, 0x50, "SID_AUTH_INFO", 6000) + sentLine(0x25, "SID_PING") +
           sentLine(0x0A, "SID_ENTERCHAT")},
      {"OversizeAndFollowerInOneSegment",
       {server(oversizeMessage(0x0F, 6000) + chatEvent(5, "bob", "after"))},
       tooLong(Side::Server, 0x0F, "SID_CHATEVENT", 6000) + rcvdLine(0x0F, "SID_CHATEVENT")},
      {"OversizeEndingWithItsSegment",
       {client(head(big, 3000)), client(tail(big, 3000)), server(ping(2))},
       tooLong(Side::Client, 0x50, "SID_AUTH_INFO", 6000) + rcvdLine(0x25, "SID_PING")},
      {"OversizeHeaderCompletedByTheServer",
       {client(head(big, 2)), server(slice(big, 2, 2500)), client(tail(big, 2500) + ping(3))},
       tooLong(Side::Server, 0x50, "SID_AUTH_INFO", 6000) + sentLine(0x25, "SID_PING")},
      {"OversizeMessagesBackToBack",
       {client(oversizeMessage(0x51, 5000) + oversizeMessage(0x0C, 4097) + ping(4))},
       tooLong(Side::Client, 0x51, "SID_AUTH_CHECK", 5000) +
           tooLong(Side::Client, 0x0C, "SID_JOINCHANNEL", 4097) + sentLine(0x25, "SID_PING")},
      {"LargestLengthField",
       {client(head(largest, 40000)), client(tail(largest, 40000) + ping(5))},
       tooLong(Side::Client, 0x0E, "SID_CHATCOMMAND", 65535) + sentLine(0x25, "SID_PING")},
  };
}

class StreamCaseTest : public LiveCaptureTest, public testing::WithParamInterface<StreamCase> {};

TEST_P(StreamCaseTest, PrintsEveryMessageInOrder) {
  ChatConnection chat = connect();
  for (const Segment& segment : GetParam().segments) chat.sends(segment.from, segment.bytes);
  expectLines(GetParam().lines);
}

std::string caseName(const testing::TestParamInfo<StreamCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Framing, StreamCaseTest, testing::ValuesIn(framingCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Sync, StreamCaseTest, testing::ValuesIn(syncCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Size, StreamCaseTest, testing::ValuesIn(sizeCases()), caseName);

using StreamTest = LiveCaptureTest;

TEST_F(StreamTest, SplitMessageIsPrintedOnlyOnceComplete) {
  ChatConnection chat = connect();
  const Bytes command = chatCommand("/whoami");
  chat.clientSends(head(command, 5));
  // The send returns once the program has taken the first half, so a line
  // printed from it would be here already.
  EXPECT_FALSE(vestrel_.waitForLines(2, Millis(20))) << vestrel_.output();
  chat.clientSends(tail(command, 5));
  expectLines(sentLine(0x0E, "SID_CHATCOMMAND"));
}

// A client that connects while another is chatting starts with its protocol
// byte and first message in one segment; the shared stream must get past
// that byte and show both conversations.
TEST_F(StreamTest, SecondConnectionJoinsTheSharedStream) {
  ChatConnection first = connect();
  first.clientSends(byte(0x01));
  first.clientSends(clientAuthInfo());
  first.serverSends(ping(1) + serverAuthInfo());
  ChatConnection second = connect();
  second.clientSends(byte(0x01) + clientAuthInfo());
  second.serverSends(serverAuthInfo());
  first.clientSends(enterChat());
  second.clientSends(ping(2));
  first.serverSends(chatEvent(5, "bob", "hi"));
  expectLines(sentLine(0x50, "SID_AUTH_INFO") + rcvdLine(0x25, "SID_PING") + rcvdLine(0x50, "SID_AUTH_INFO") +
              sentLine(0x50, "SID_AUTH_INFO") + rcvdLine(0x50, "SID_AUTH_INFO") +
              sentLine(0x0A, "SID_ENTERCHAT") + sentLine(0x25, "SID_PING") + rcvdLine(0x0F, "SID_CHATEVENT"));
}

}  // namespace
}  // namespace vestrel::live
