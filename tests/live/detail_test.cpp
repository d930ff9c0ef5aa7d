// Decoded details on real traffic where the stream and the options matter:
// texts cut with -u or -s alone, and bodies that end before their fields do
// while the next message's bytes already wait right behind them in the
// stream. (The unit tests hold each decoder's forms and tables.)
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

struct DetailCase {
  std::string name;
  std::vector<std::string> options;
  std::vector<Segment> segments;  // each one TCP segment, in this order
  std::string lines;              // everything printed after the banner
};

void PrintTo(const DetailCase& c, std::ostream* out) { *out << c.name; }

// count bytes of a pattern that holds 0x00 and 0xFF among others.
Bytes run(size_t count, uint8_t seed) {
  Bytes bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(seed + i * 0x33));
  return bytes;
}

// How a byte run prints: two upper-case hex digits a byte.
std::string hexText(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const uint8_t value : bytes) {
    text += kDigits[value >> 4];
    text += kDigits[value & 0xF];
  }
  return text;
}

// The messages one after the other, for one segment.
Bytes all(const std::vector<Bytes>& messages) {
  Bytes bytes;
  for (const Bytes& message : messages) bytes = bytes + message;
  return bytes;
}

// Commands of 32, 33, 34 and 0 bytes, a 200-byte one, and one whose 33rd
// byte is a newline: cut to 33 raw bytes first, then escaped.
std::vector<Bytes> commands() {
  return {chatCommand(std::string(32, 'a')),  chatCommand(std::string(33, 'a')),
          chatCommand(std::string(34, 'a')),  chatCommand(""),
          chatCommand(std::string(200, 'z')), chatCommand(std::string(32, 'b') + "\n" + std::string(7, 'c'))};
}

std::vector<DetailCase> commandCases() {
  const auto line = [](const std::string& details) { return sentLine(0x0E, "SID_CHATCOMMAND", details); };
  return {
      {"ChatCommandsCutAfter33Bytes",
       {},
       {{Side::Client, all(commands())}},
       line(std::string(32, 'a') + "\n") + line(std::string(33, 'a') + " [...]\n") +
           line(std::string(33, 'a') + " [...]\n") + line("\n") + line(std::string(33, 'z') + " [...]\n") +
           line(std::string(32, 'b') + "\\x0A [...]\n")},
      {"ChatCommandsWholeWithFullStrings",
       {"-s"},
       {{Side::Client, all(commands())}},
       line(std::string(32, 'a') + "\n") + line(std::string(33, 'a') + "\n") + line(std::string(34, 'a') + "\n") +
           line("\n") + line(std::string(200, 'z') + "\n") +
           line(std::string(32, 'b') + "\\x0A" + std::string(7, 'c') + "\n")},
  };
}

// -u alone leaves texts cut; the cut counts bytes, so it may split a UTF-8
// character, whose bytes before the cut then print escaped.
DetailCase eventTextCuts() {
  const std::string fifteen = "123456789012345";
  const auto line = [](std::string_view text) {
    return rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", text));
  };
  return {"EventTextsCutAfter16BytesEvenWithUnknownFields",
          {"-u"},
          {{Side::Server, all({chatEvent(5, "bob", fifteen), chatEvent(5, "bob", fifteen + "6"),
                               chatEvent(5, "bob", fifteen + "67"), chatEvent(5, "bob", fifteen + "\xC3\xA9")})}},
          line(fifteen) + line(fifteen + "6 [...]") + line(fifteen + "6 [...]") + line(fifteen + "\\xC3 [...]")};
}

// Numbers past the end read as 0, byte runs stop, texts end with the message.
DetailCase shortBodies() {
  return {"BodiesEndingBeforeTheirFields",
          {},
          {{Side::Client, msg(0x25, word(0x1234)) + msg(0x0C, word(5)) + msg(0x0A, raw("alice")) +
                              msg(0x3A, dword(1) + dword(2) + run(6, 0x01))},
           {Side::Server, msg(0x25) + msg(0x0F, dword(5) + dword(0) + dword(9) + fill(12, 0) + raw("bo")) +
                              msg(0x51, word(0x0201)) + msg(0x52, dword(0) + run(3, 0xAA)) + msg(0x0A)}},
          sentLine(0x25, "SID_PING", "Ping value: 0x1234\n") +
              sentLine(0x0C, "SID_JOINCHANNEL", "Flags: 0x05, Channel Name: \n") +
              sentLine(0x0A, "SID_ENTERCHAT", "Username: alice, Statstring: \n") +
              sentLine(0x3A, "SID_LOGONRESPONSE2",
                       "Client Token:\t 0x1\n"
                       "\t\t\t\t       Server Token:\t 0x2\n"
                       "Password hash: " +
                           hexText(run(6, 0x01)) + "\t\t\t\t       Username:\t \n") +
              rcvdLine(0x25, "SID_PING", "Ping value: 0x0\n") +
              rcvdLine(0x0F, "SID_CHATEVENT", "EID_TALK, Flags: 0x00, Ping: 9, User: bo, Text: \n") +
              rcvdLine(0x51, "SID_AUTH_CHECK", "Result: 0x201 (Failed; CD key in use), Extra Info:  <none>\n") +
              rcvdLine(0x52, "SID_AUTH_ACCOUNTCREATE",
                       "Result: 0x0 (Success), Password Proof: " + hexText(run(3, 0xAA)) + "\n") +
              rcvdLine(0x0A, "SID_ENTERCHAT", "Unique name: , Statstring: , Account name: \n")};
}

// Key counts the message cannot hold: the entries stop with the message,
// and the texts after them read as empty.
DetailCase authCheckKeyCounts() {
  const Bytes hash = run(20, 0x9C);
  const auto check = [](uint32_t keys, const Bytes& entries) {
    return msg(0x51, dword(1) + dword(2) + dword(3) + dword(keys) + dword(0) + entries);
  };
  const auto opening = [](std::string_view keys) {
    return "Client Token:\t 0x1\n"
           "\t\t\t\t       EXE Version:\t 0x2\n"
           "\t\t\t\t       EXE Hash:\t 0x3\n"
           "\t\t\t\t       Number of keys:\t " +
           std::string(keys) +
           "\n"
           "\t\t\t\t       Using Spawn:\t 0\n";
  };
  const std::string key0 =
      "\t\t\t\t\t       Key 0:\n"
      "\t\t\t\t\t        Length:\t\t 26\n"
      "\t\t\t\t\t        Product:\t 6\n"
      "\t\t\t\t\t        Public value:\t 0xABC\n"
      "\t\t\t\t\t        [Unknown]:\t 0x7\n"
      "\t\t\t\t\t        CD key hash:\t" +
      hexText(hash) + "\n";
  const std::string key1Cut =
      "\t\t\t\t\t       Key 1:\n"
      "\t\t\t\t\t        Length:\t\t 16\n"
      "\t\t\t\t\t        Product:\t 4\n"
      "\t\t\t\t\t        Public value:\t 0x55\n"
      "\t\t\t\t\t        [Unknown]:\t 0x66\n"
      "\t\t\t\t\t        CD key hash:\t" +
      hexText(head(hash, 5)) + "\n";
  const std::string emptyTexts =
      "\t\t\t\t       EXE Info:\t \n"
      "\t\t\t\t       Key Owner:\t \n";
  const Bytes entry0 = dword(26) + dword(6) + dword(0xABC) + dword(7) + hash;
  const Bytes entry1Cut = dword(16) + dword(4) + dword(0x55) + dword(0x66) + head(hash, 5);
  return {"AuthCheckKeysStopWithTheMessage",
          {"-u"},
          {{Side::Client, check(0xFFFFFFFF, entry0) + check(3, entry0 + entry1Cut) + check(5, {})}},
          sentLine(0x51, "SID_AUTH_CHECK", opening("4294967295") + key0 + emptyTexts) +
              sentLine(0x51, "SID_AUTH_CHECK", opening("3") + key0 + key1Cut + emptyTexts) +
              sentLine(0x51, "SID_AUTH_CHECK", opening("5") + emptyTexts)};
}

std::vector<DetailCase> detailCases() {
  std::vector<DetailCase> cases{eventTextCuts(), shortBodies(), authCheckKeyCounts()};
  for (DetailCase& c : commandCases()) cases.push_back(std::move(c));
  return cases;
}

class DetailTest : public LiveCaptureTest, public testing::WithParamInterface<DetailCase> {
 protected:
  std::vector<std::string> captureOptions() const override { return GetParam().options; }
};

TEST_P(DetailTest, PrintsTheDetailsExactly) {
  ChatConnection chat = connect();
  for (const Segment& segment : GetParam().segments) chat.sends(segment.from, segment.bytes);
  expectLines(GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Decoders, DetailTest, testing::ValuesIn(detailCases()),
                         [](const testing::TestParamInfo<DetailCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vestrel::live
