// Real client and server traffic on loopback: how the program cuts the one
// shared stream into messages and labels each line.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "common/printf_text.h"
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

// An authentication info without a body: every number reads 0, every code
// four blanks, every text empty.
const std::string kEmptyAuthInfoDetails =
    "Protocol ID:\t 0\n"
    "\t\t\t\t       Platform ID:\t     \n"
    "\t\t\t\t       Program ID:\t     \n"
    "\t\t\t\t       Version byte:\t 0x0\n"
    "\t\t\t\t       Product Langauge: 0\n"
    "\t\t\t\t       Local IP:\t 0.0.0.0\n"
    "\t\t\t\t       Timezone Bias:\t 0\n"
    "\t\t\t\t       Locale ID:\t 0\n"
    "\t\t\t\t       Langauge ID:\t 0\n"
    "\t\t\t\t       Country Abbr.:\t \n"
    "\t\t\t\t       Country Name:\t \n";

// Exact text, written out, for the forms where padding and tabs matter. The
// bodies are empty, so the decoders (proof messages print nothing without
// -u) read nothing but the end of the message.
StreamCase namesAsPrinted() {
  return {
      "NamesPaddedTabbedAndUnknown",
      {client(msg(0x50) + msg(0x54) + msg(0x56) + msg(0x58) + msg(0x99) + msg(0x00) + msg(0xFF)), server(msg(0x0F))},
      "Sent -> [0x50] SID_AUTH_INFO        -> " + kEmptyAuthInfoDetails +
          "Sent -> [0x54] SID_AUTH_ACCOUNTLOGONPROOF\t -> \n"
          "Sent -> [0x56] SID_AUTH_ACCOUNTCHANGEPROOF \t -> \n"
          "Sent -> [0x58] SID_AUTH_ACCOUNTUPGRADEPROOF\t -> \n"
          "Sent -> [0x99] SID_UNK0x99          -> \n"
          "Sent -> [0x00] SID_NULL             -> \n"
          "Sent -> [0xFF] SID_UNK0xFF          -> \n"
          "Rcvd -> [0x0F] SID_CHATEVENT        -> EID_UNK0x00000000, Flags: 0x00, Ping: 0, User: , Text: \n"};
}

StreamCase logonAndChat() {
  const Bytes serverEnterChat = msg(0x0A, cstr("alice") + cstr("PX3W 0 0") + cstr("alice"));
  return {"LogonAndChatConversation",
          {client(byte(0x01)), client(clientAuthInfo()), server(ping(0x1234) + serverAuthInfo()), client(ping(0x1234)),
           client(clientAuthCheck()), server(serverAuthCheck()), client(enterChat()), server(serverEnterChat),
           client(joinChannel("Lobby")), server(chatEvent(7, "alice", "Lobby") + chatEvent(1, "bob", "")),
           client(chatCommand("hello")), server(chatEvent(5, "bob", "hi alice"))},
          sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails) + rcvdLine(0x25, "SID_PING", pingDetails(0x1234)) +
              rcvdLine(0x50, "SID_AUTH_INFO", kServerAuthInfoDetails) +
              sentLine(0x25, "SID_PING", pingDetails(0x1234)) +
              sentLine(0x51, "SID_AUTH_CHECK", kClientAuthCheckDetails) +
              rcvdLine(0x51, "SID_AUTH_CHECK", kServerAuthCheckDetails) +
              sentLine(0x0A, "SID_ENTERCHAT", kEnterChatDetails) +
              rcvdLine(0x0A, "SID_ENTERCHAT", "Unique name: alice, Statstring: PX3W 0 0, Account name: alice\n") +
              sentLine(0x0C, "SID_JOINCHANNEL", joinChannelDetails("Lobby")) +
              rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_CHANNEL, ", "alice", "Lobby")) +
              rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_SHOWUSER, ", "bob", "")) +
              sentLine(0x0E, "SID_CHATCOMMAND", "hello\n") +
              rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", "hi alice"))};
}

StreamCase messageInTwoBytePieces() {
  const Bytes message = chatCommand("one segment at a time");
  StreamCase c{"MessageBuiltFromTwoBytePieces", {}, sentLine(0x0E, "SID_CHATCOMMAND", "one segment at a time\n")};
  for (size_t at = 0; at < message.size(); at += 2) c.segments.push_back(client(slice(message, at, at + 2)));
  return c;
}

// Little-endian number at a body offset, 0 for the bytes the body lacks.
uint32_t bodyNumber(const Bytes& body, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (at + i < body.size()) value |= static_cast<uint32_t>(body[at + i]) << (8 * i);
  }
  return value;
}

std::string printed(const char* pattern, uint32_t value) { return test::printfText(pattern, value); }

// Details of a server message whose body holds only bytes 0xFD to 0xFF: no
// text ends inside it, no event id is known, only an empty body makes a
// result 0, and no such byte is UTF-8, so a text shows each as \xHH.
std::string serverDetails(uint8_t id, const Bytes& body) {
  switch (id) {
    case 0x25: return printed("Ping value: 0x%X\n", bodyNumber(body, 0));
    case 0x54:
      return body.empty() ? "Result: 0x0 (Success)\n" : printed("Result: 0x%X (Failed)\n", bodyNumber(body, 0));
    case 0x0F: {
      // The user name runs from after the twelve skipped bytes to the end.
      std::string user;
      for (size_t at = 24; at < body.size(); ++at) user += printed("\\x%2.2X", body[at]);
      return printed("EID_UNK0x%8.8X, ", bodyNumber(body, 0)) + printed("Flags: 0x%.2X, ", bodyNumber(body, 4)) +
             printed("Ping: %u, ", bodyNumber(body, 8)) + "User: " + user + ", Text: \n";
    }
    default: return "\n";
  }
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
    lines += rcvdLine(kind.id, kind.name, serverDetails(kind.id, body));
  }
  return {"ManySmallMessagesInOneLargeSegment", {server(payload)}, lines};
}

std::vector<StreamCase> framingCases() {
  const Bytes authCheck = clientAuthCheck();
  const Bytes event = chatEvent(5, "bob", "split by the client");
  const Bytes command = chatCommand("split by the server");
  const std::string authCheckLine = sentLine(0x51, "SID_AUTH_CHECK", kClientAuthCheckDetails);
  // A message completed by the other side is decoded as that side's: no
  // decoder reads a chat event sent to the server or a command coming from it.
  return {
      {"SingleMessage",
       {client(clientAuthInfo())},
       "Sent -> [0x50] SID_AUTH_INFO        -> " + std::string(kClientAuthInfoDetails)},
      namesAsPrinted(),
      {"TwoMessagesInOneSegment",
       {client(enterChat() + joinChannel("Lobby"))},
       sentLine(0x0A, "SID_ENTERCHAT", kEnterChatDetails) +
           sentLine(0x0C, "SID_JOINCHANNEL", joinChannelDetails("Lobby"))},
      {"MessageSplitOverTwoSegments", {client(head(authCheck, 20)), client(tail(authCheck, 20))}, authCheckLine},
      {"HeaderSplitOverTwoSegments", {client(head(authCheck, 2)), client(tail(authCheck, 2))}, authCheckLine},
      messageInTwoBytePieces(),
      {"MessageEndAndNextStartShareASegment",
       {client(head(authCheck, 10)), client(tail(authCheck, 10) + head(event, 7)), client(tail(event, 7))},
       authCheckLine + sentLine(0x0F, "SID_CHATEVENT")},
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
  const std::string authInfoLine = sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails);
  const auto sentPing = [](uint32_t cookie) { return sentLine(0x25, "SID_PING", pingDetails(cookie)); };
  return {
      {"ProtocolByteAloneFirst", {client(byte(0x01)), client(clientAuthInfo())}, authInfoLine},
      {"ProtocolByteWithTheFirstMessage", {client(byte(0x01) + clientAuthInfo())}, authInfoLine},
      // Kept, the bytes before the marker would read as an 8-byte message.
      {"BytesBeforeTheFirstMarkerAreDropped",
       {server(header(0x00, 0x42, 8) + byte(0x01) + ping(9))},
       rcvdLine(0x25, "SID_PING", pingDetails(9))},
      {"FirstPayloadWithoutAMarkerIsDropped", {client(header(0x41, 0x42, 8)), client(ping(1))}, sentPing(1)},
      // Kept, the lone byte would make the next header announce 2085 bytes.
      {"LoneByteBetweenMessagesIsIgnored",
       {client(ping(1)), client(byte(0x01)), client(ping(2))},
       sentPing(1) + sentPing(2)},
      {"LengthBelowTheHeaderIsSkipped",
       {client(ping(1)), client(header(0xFF, 0x25, 2) + ping(2))},
       sentPing(1) + sentPing(2)},
      {"UnmarkedHugeLengthIsSkipped",
       {client(ping(1)), server(header(0x41, 0x42, 0x2000) + ping(2))},
       sentPing(1) + rcvdLine(0x25, "SID_PING", pingDetails(2))},
      {"UnmarkedSaneLengthIsStillCut",
       {client(ping(1)), client(header(0x00, 0x99, 8) + dword(7) + ping(2))},
       sentPing(1) + sentLine(0x99, "SID_UNK0x99") + sentPing(2)},
  };
}

// Garbage on the chat connection, then a segment that starts a message:
// what the garbage left pending is dropped, and every message of the next
// segment is shown exactly, alone or packed with others.
std::vector<StreamCase> garbageCases() {
  struct Garbage {
    std::string name;
    Bytes bytes;
  };
  const std::vector<Garbage> garbage{
      {"TextWithoutMarker", raw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")},
      {"TwoBytesWithoutMarker", Bytes{0x01, 0x02}},
      {"MarkerAlone", Bytes{0x00, 0xFF}},
      {"MarkerAndId", Bytes{0x00, 0xFF, 0x12}},
      {"LengthBelowTheHeader", header(0xFF, 0x25, 2)},
      {"UnmarkedLengthBeyondTheBuffer", header(0x41, 0x42, 0x2000) + Bytes{1, 2, 3}},
      // Markers with lengths below the header among random bytes, ending in
      // a marker and an id.
      {"RandomBytes", hexBytes("3A9C0120FF120200E477FF010000B5C24190FE0B13FF3D")},
  };
  // A chat event's id (0x0F) in a length's high byte keeps a length joined
  // from leftover bytes under the buffer's size.
  const Bytes talk = chatEvent(5, "bob", "back in step");
  const std::string talkLine = rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", "back in step"));
  const Bytes reply = msg(0x0A, cstr("alice") + cstr("PX3W 0 0") + cstr("alice"));
  const std::string replyLine =
      rcvdLine(0x0A, "SID_ENTERCHAT", "Unique name: alice, Statstring: PX3W 0 0, Account name: alice\n");
  const std::string firstPing = sentLine(0x25, "SID_PING", pingDetails(1));
  std::vector<StreamCase> cases;
  const std::string oneMessageLines = firstPing + talkLine;
  const std::string packedLines = oneMessageLines + rcvdLine(0x25, "SID_PING", pingDetails(2)) + replyLine + talkLine;
  const Bytes packed = talk + ping(2) + reply + talk;
  for (const Garbage& g : garbage) {
    cases.push_back({g.name + "ThenOneMessage", {client(ping(1)), client(g.bytes), server(talk)}, oneMessageLines});
    cases.push_back({g.name + "ThenPackedSegment", {client(ping(1)), client(g.bytes), server(packed)}, packedLines});
  }
  return cases;
}

// Messages near and beyond the 4096-byte buffer.
std::vector<StreamCase> sizeCases() {
  const Bytes fullSize = chatCommand(std::string(4091, 'x'));
  // Without -s the command shows its first 33 bytes.
  const std::string fullSizeLine = sentLine(0x0E, "SID_CHATCOMMAND", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx [...]\n");
  const auto sentPing = [](uint32_t cookie) { return sentLine(0x25, "SID_PING", pingDetails(cookie)); };
  const Bytes big = oversizeMessage(0x50, 6000);
  const Bytes largest = oversizeMessage(0x0E, 65535);
  return {
      {"MessageFillingTheBuffer", {client(fullSize)}, fullSizeLine},
      {"FullSizeMessageBehindAPartialOne",
       {client(head(ping(7), 6)), client(tail(ping(7), 6) + fullSize)},
       sentPing(7) + fullSizeLine},
      {"MessageOneByteOverTheBuffer",
       {client(oversizeMessage(0x0E, 4097)), client(ping(6))},
       tooLong(Side::Client, 0x0E, "SID_CHATCOMMAND", 4097) + sentPing(6)},
      {"OversizeSpreadOverSegments",
       {client(head(big, 1000)), client(slice(big, 1000, 3000)), client(slice(big, 3000, 5000)),
        client(tail(big, 5000) + ping(1) + enterChat())},
       tooLong(Side::Client, 0x50, "SID_AUTH_INFO", 6000) + sentPing(1) +
           sentLine(0x0A, "SID_ENTERCHAT", kEnterChatDetails)},
      {"OversizeAndFollowerInOneSegment",
       {server(oversizeMessage(0x0F, 6000) + chatEvent(5, "bob", "after"))},
       tooLong(Side::Server, 0x0F, "SID_CHATEVENT", 6000) +
           rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", "after"))},
      {"OversizeEndingWithItsSegment",
       {client(head(big, 3000)), client(tail(big, 3000)), server(ping(2))},
       tooLong(Side::Client, 0x50, "SID_AUTH_INFO", 6000) + rcvdLine(0x25, "SID_PING", pingDetails(2))},
      {"OversizeHeaderCompletedByTheServer",
       {client(head(big, 2)), server(slice(big, 2, 2500)), client(tail(big, 2500) + ping(3))},
       tooLong(Side::Server, 0x50, "SID_AUTH_INFO", 6000) + sentPing(3)},
      {"OversizeMessagesBackToBack",
       {client(oversizeMessage(0x51, 5000) + oversizeMessage(0x0C, 4097) + ping(4))},
       tooLong(Side::Client, 0x51, "SID_AUTH_CHECK", 5000) + tooLong(Side::Client, 0x0C, "SID_JOINCHANNEL", 4097) +
           sentPing(4)},
      {"LargestLengthField",
       {client(head(largest, 40000)), client(tail(largest, 40000) + ping(5))},
       tooLong(Side::Client, 0x0E, "SID_CHATCOMMAND", 65535) + sentPing(5)},
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
INSTANTIATE_TEST_SUITE_P(Garbage, StreamCaseTest, testing::ValuesIn(garbageCases()), caseName);
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
  expectLines(sentLine(0x0E, "SID_CHATCOMMAND", "/whoami\n"));
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
  const std::string clientInfo = sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails);
  const std::string serverInfo = rcvdLine(0x50, "SID_AUTH_INFO", kServerAuthInfoDetails);
  expectLines(clientInfo + rcvdLine(0x25, "SID_PING", pingDetails(1)) + serverInfo + clientInfo + serverInfo +
              sentLine(0x0A, "SID_ENTERCHAT", kEnterChatDetails) + sentLine(0x25, "SID_PING", pingDetails(2)) +
              rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", "hi")));
}

}  // namespace
}  // namespace vestrel::live
