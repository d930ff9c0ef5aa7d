// Messages a client sends: every decoder's exact text, with and without -u
// and -s, and what short or hostile messages print.
#include <gtest/gtest.h>

#include "decoder_cases.h"

namespace vestrel::test {
namespace {

class ClientDecoder : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(ClientDecoder, PrintsTheFields) {
  EXPECT_EQ(decodedDetails(true, GetParam().message, GetParam().flags), GetParam().details);
}

#define CLIENT_CASES(group, ...)                                                 \
  INSTANTIATE_TEST_SUITE_P(group, ClientDecoder, ::testing::Values(__VA_ARGS__), \
                           [](const auto& info) { return std::string(info.param.name); })

// A realistic first message: protocol 0, x86 platform, product, version,
// language, 192.168.1.20, UTC-8 bias (480 minutes, sent as -480), US locale.
const Bytes kAuthInfoBody = dword(0) + raw("68XIPXES") + dword(0xD3) + dword(0x409) + Bytes{192, 168, 1, 20} +
                            dword(0xFFFFFE20) + dword(1033) + dword(1033) + cstr("USA") + cstr("United States");

CLIENT_CASES(ChatMessages,
             DecoderCase{"EnterChat", msg(0x0A, cstr("alice") + cstr("PX3W 0 0")), kPlain,
                         "Username: alice, Statstring: PX3W 0 0\n"},
             DecoderCase{"EnterChatEmptyBody", msg(0x0A), kPlain, "Username: , Statstring: \n"},
             DecoderCase{"ChannelListRequest", msg(0x0B, raw("PX3W")), kPlain, "Program ID: PX3W\n"},
             DecoderCase{"JoinChannelFlagsTwoDigits", msg(0x0C, dword(5) + cstr("Lobby")), kPlain,
                         "Flags: 0x05, Channel Name: Lobby\n"},
             DecoderCase{"JoinChannelWideFlags", msg(0x0C, dword(0x1234) + cstr("Op bob")), kPlain,
                         "Flags: 0x1234, Channel Name: Op bob\n"},
             DecoderCase{"ChatCommand", msg(0x0E, cstr("/whoami")), kPlain, "/whoami\n"},
             DecoderCase{"ChatCommandEmpty", msg(0x0E, cstr("")), kPlain, "\n"},
             DecoderCase{"Ping", msg(0x25, dword(0xDEADBEEF)), kPlain, "Ping value: 0xDEADBEEF\n"},
             DecoderCase{"PingZero", msg(0x25, dword(0)), kPlain, "Ping value: 0x0\n"},
             DecoderCase{"FileTimeRequest", msg(0x33, dword(0x80000004) + dword(0) + cstr("bnserver.ini")), kPlain,
                         "Request ID: 0x80000004, Filename: bnserver.ini\n"},
             DecoderCase{"FileTimeRequestWithUnknown",
                         msg(0x33, dword(0x80000004) + dword(0xABC) + cstr("bnserver.ini")), kUnknown,
                         "Request ID: 0x80000004, [Unknown]: 0xABC, Filename: bnserver.ini\n"});

// A four-character code stands in message order, and prints the way
// "%4.4s" prints its four bytes: up to the first zero, right-aligned.
CLIENT_CASES(FourCharacterCodes,
             DecoderCase{"ThirdByteZero", msg(0x0B, raw("ST") + Bytes{0, 'R'}), kPlain, "Program ID:   ST\n"},
             DecoderCase{"FirstByteZero", msg(0x0B, Bytes{0, 'T', 'A', 'R'}), kPlain, "Program ID:     \n"},
             DecoderCase{"CutByTheMessageEnd", msg(0x0B, raw("PX")), kPlain, "Program ID:   PX\n"},
             DecoderCase{"ControlBytesEscaped", msg(0x0B, Bytes{0x1B, '[', '2', 'J'}), kPlain,
                         "Program ID: \\x1B[2J\n"},
             DecoderCase{"DeleteEscaped", msg(0x0B, Bytes{'A', 0x7F, 0, 0}), kPlain, "Program ID: A\\x7F\n"},
             DecoderCase{"HighBytesAsTheyAre", msg(0x0B, Bytes{'A', 0xC3, 0xA9, 'Z'}), kPlain,
                         "Program ID: A\xC3\xA9Z\n"});

// Commands are cut to 33 bytes when longer than 32, unless -s.
CLIENT_CASES(ChatCommandLength,
             DecoderCase{"ThirtyTwoBytesWhole", msg(0x0E, cstr(digits(32))), kPlain, digits(32) + "\n"},
             DecoderCase{"ThirtyThreeBytesWholeAndMarked", msg(0x0E, cstr(digits(33))), kPlain,
                         digits(33) + " [...]\n"},
             DecoderCase{"FortyBytesCut", msg(0x0E, cstr(digits(40))), kPlain, digits(33) + " [...]\n"},
             DecoderCase{"FortyBytesWithFullStrings", msg(0x0E, cstr(digits(40))), kFull, digits(40) + "\n"},
             DecoderCase{"TwoHundredBytesWithFullStrings", msg(0x0E, cstr(digits(200))), kFull, digits(200) + "\n"},
             DecoderCase{"ThirtyThreeBytesWithFullStrings", msg(0x0E, cstr(digits(33))), kFull, digits(33) + "\n"},
             // Bytes are counted, not characters: 20 two-byte letters are 40
             // bytes, and the half letter left at the cut is shown escaped.
             DecoderCase{"CountsBytesNotCharacters", msg(0x0E, cstr(repeated("\xC3\xA9", 20))), kPlain,
                         repeated("\xC3\xA9", 16) + "\\xC3 [...]\n"});

// Network text cannot drive the terminal: control bytes print as \xHH, after
// the cut, so a cut never splits an escape.
CLIENT_CASES(ConsoleSafety, DecoderCase{"EscapeSequence", msg(0x0E, cstr("hi\x1B[2J")), kPlain, "hi\\x1B[2J\n"},
             DecoderCase{"ForgedLine", msg(0x0E, cstr("ok\nRcvd -> [0x0F]")), kPlain, "ok\\x0ARcvd -> [0x0F]\n"},
             DecoderCase{"TabCarriageReturnBellDelete",
                         msg(0x0E, cstr("a\tb\rc\x07"
                                        "d\x7F")),
                         kPlain, "a\\x09b\\x0Dc\\x07d\\x7F\n"},
             DecoderCase{"ControlAtTheLastKeptByte", msg(0x0E, cstr(digits(32) + "\n" + digits(7))), kPlain,
                         digits(32) + "\\x0A [...]\n"},
             DecoderCase{"ControlJustPastTheCut", msg(0x0E, cstr(digits(33) + "\x1B" + digits(6))), kPlain,
                         digits(33) + " [...]\n"},
             DecoderCase{"ControlCountsAsOneByte", msg(0x0E, cstr(std::string(32, '\x01'))), kPlain,
                         repeated("\\x01", 32) + "\n"},
             DecoderCase{"UserNameEscaped", msg(0x0A, cstr("a\x1B]0;owned\x07") + cstr("")), kPlain,
                         "Username: a\\x1B]0;owned\\x07, Statstring: \n"});

const std::string kLogonResponseText = "Client Token:\t 0x11\n" + kIndent + "Server Token:\t 0x22\n" +
                                       "Password hash: 0001029C0405060708090A0B0C0D0E0F10111213" + kIndent +
                                       "Username:\t alice\n";
const Bytes kLogonResponseBody = dword(0x11) + dword(0x22) + Bytes{0, 1, 2, 0x9C} + counting(16, 4) + cstr("alice");

CLIENT_CASES(Logon, DecoderCase{"LogonResponse", msg(0x29, kLogonResponseBody), kPlain, kLogonResponseText},
             DecoderCase{"LogonResponse2SameDecoder", msg(0x3A, kLogonResponseBody), kPlain, kLogonResponseText},
             DecoderCase{"LogonResponseCutInsideTheHash", msg(0x29, dword(0x11) + dword(0x22) + counting(5)), kPlain,
                         "Client Token:\t 0x11\n" + kIndent + "Server Token:\t 0x22\n" + "Password hash: 0001020304" +
                             kIndent + "Username:\t \n"},
             DecoderCase{"AuthInfo", msg(0x50, kAuthInfoBody), kPlain,
                         "Protocol ID:\t 0\n" + kIndent + "Platform ID:\t 68XI\n" + kIndent + "Program ID:\t PXES\n" +
                             kIndent + "Version byte:\t 0xD3\n" + kIndent + "Product Langauge: 1033\n" + kIndent +
                             "Local IP:\t 192.168.1.20\n" + kIndent + "Timezone Bias:\t 4294966816\n" + kIndent +
                             "Locale ID:\t 1033\n" + kIndent + "Langauge ID:\t 1033\n" + kIndent +
                             "Country Abbr.:\t USA\n" + kIndent + "Country Name:\t United States\n"},
             DecoderCase{"AuthInfoEmptyBody", msg(0x50), kPlain,
                         "Protocol ID:\t 0\n" + kIndent + "Platform ID:\t     \n" + kIndent + "Program ID:\t     \n" +
                             kIndent + "Version byte:\t 0x0\n" + kIndent + "Product Langauge: 0\n" + kIndent +
                             "Local IP:\t 0.0.0.0\n" + kIndent + "Timezone Bias:\t 0\n" + kIndent + "Locale ID:\t 0\n" +
                             kIndent + "Langauge ID:\t 0\n" + kIndent + "Country Abbr.:\t \n" + kIndent +
                             "Country Name:\t \n"},
             DecoderCase{"AccountCreate", msg(0x52, counting(64) + cstr("bob")), kPlain,
                         "Password data: " + countingHex(64) + ", Account name: bob\n"},
             DecoderCase{"AccountLogon", msg(0x53, counting(32) + cstr("bob")), kPlain, "Account name: bob\n"},
             DecoderCase{"AccountLogonWithUnknown", msg(0x53, counting(32) + cstr("bob")), kUnknown,
                         "[Unknown]: " + countingHex(32) + ", Account name: bob\n"},
             DecoderCase{"AccountLogonProof", msg(0x54, counting(20)), kPlain, "\n"},
             DecoderCase{"AccountLogonProofWithUnknown", msg(0x54, counting(20)), kUnknown,
                         "[Unknown]: " + countingHex(20) + "\n"},
             DecoderCase{"AccountChange", msg(0x55, counting(32) + cstr("bob")), kPlain, ", Account name: bob\n"},
             DecoderCase{"AccountChangeWithUnknown", msg(0x55, counting(32) + cstr("bob")), kUnknown,
                         "[Unknown]: " + countingHex(32) + ", Account name: bob\n"},
             DecoderCase{"AccountChangeProof", msg(0x56, counting(84)), kPlain, "\n"},
             DecoderCase{"AccountChangeProofWithUnknown", msg(0x56, counting(84)), kUnknown,
                         "[Unknown]: " + countingHex(84) + "\n"},
             DecoderCase{"AccountUpgradeProofSameDecoder", msg(0x58, counting(84, 0x80)), kUnknown,
                         "[Unknown]: " + countingHex(84, 0x80) + "\n"},
             DecoderCase{"AccountLogonShortOfItsName", msg(0x53, counting(10)), kUnknown,
                         "[Unknown]: " + countingHex(10) + ", Account name: \n"});

// Ids the client table leaves out end the line at once, whatever the body.
CLIENT_CASES(NoDecoder, DecoderCase{"AccountUpgrade", msg(0x57, dword(1)), kUnknown, "\n"},
             DecoderCase{"ChatEventFromAClient", msg(0x0F, dword(5)), kPlain, "\n"},
             DecoderCase{"LeaveChat", msg(0x10), kPlain, "\n"},
             DecoderCase{"UnknownId", msg(0x99, cstr("x")), kUnknown, "\n"});

std::string keyCountLines(uint32_t count) {
  return "Client Token:\t 0x5EED\n" + kIndent + "EXE Version:\t 0x10E0001\n" + kIndent + "EXE Hash:\t 0xCAFEBABE\n" +
         kIndent + "Number of keys:\t " + std::to_string(count) + "\n" + kIndent + "Using Spawn:\t 0\n";
}
Bytes authCheckHead(uint32_t count) {
  return dword(0x5EED) + dword(0x010E0001) + dword(0xCAFEBABE) + dword(count) + dword(0);
}
Bytes key(uint32_t product) {
  return dword(26) + dword(product) + dword(0x1234567) + dword(0xABCD) + counting(20, static_cast<uint8_t>(product));
}
std::string keyLines(uint32_t index, uint32_t product, Flags flags) {
  const std::string keyIndent = "\t\t\t\t\t        ";
  return "\t\t\t\t\t       Key " + std::to_string(index) + ":\n" + keyIndent + "Length:\t\t 26\n" + keyIndent +
         "Product:\t " + std::to_string(product) + "\n" + keyIndent + "Public value:\t 0x1234567\n" +
         (flags.showUnknown ? keyIndent + "[Unknown]:\t 0xABCD\n" : "") + keyIndent + "CD key hash:\t" +
         countingHex(20, static_cast<uint8_t>(product)) + "\n";
}
const Bytes kExeInfo = cstr("game.exe 01/01/20 00:00:00 1234") + cstr("alice");
const std::string kExeInfoLines =
    kIndent + "EXE Info:\t game.exe 01/01/20 00:00:00 1234\n" + kIndent + "Key Owner:\t alice\n";
const std::string kNoExeInfoLines = kIndent + "EXE Info:\t \n" + kIndent + "Key Owner:\t \n";

// The key count is the sender's word: the loop ends with the message.
CLIENT_CASES(AuthCheckKeys,
             DecoderCase{"NoKeys", msg(0x51, authCheckHead(0) + kExeInfo), kPlain, keyCountLines(0) + kExeInfoLines},
             DecoderCase{"OneKey", msg(0x51, authCheckHead(1) + key(4) + kExeInfo), kPlain,
                         keyCountLines(1) + keyLines(0, 4, kPlain) + kExeInfoLines},
             DecoderCase{"TwoKeys", msg(0x51, authCheckHead(2) + key(4) + key(0x18) + kExeInfo), kPlain,
                         keyCountLines(2) + keyLines(0, 4, kPlain) + keyLines(1, 0x18, kPlain) + kExeInfoLines},
             DecoderCase{"TwoKeysWithUnknown", msg(0x51, authCheckHead(2) + key(4) + key(0x18) + kExeInfo), kUnknown,
                         keyCountLines(2) + keyLines(0, 4, kUnknown) + keyLines(1, 0x18, kUnknown) + kExeInfoLines},
             DecoderCase{"AbsurdCountInAShortMessage", msg(0x51, authCheckHead(0xFFFFFFFF) + key(4)), kPlain,
                         keyCountLines(0xFFFFFFFF) + keyLines(0, 4, kPlain) + kNoExeInfoLines},
             DecoderCase{"AbsurdCountWithNoKeys", msg(0x51, authCheckHead(0x7FFFFFFF)), kPlain,
                         keyCountLines(0x7FFFFFFF) + kNoExeInfoLines},
             // An entry cut after its product and two bytes of its public value.
             DecoderCase{"PartlyPresentEntry",
                         msg(0x51, authCheckHead(3) + key(4) + dword(26) + dword(7) + Bytes{0x34, 0x12}), kUnknown,
                         keyCountLines(3) + keyLines(0, 4, kUnknown) + "\t\t\t\t\t       Key 1:\n" +
                             "\t\t\t\t\t        Length:\t\t 26\n" + "\t\t\t\t\t        Product:\t 7\n" +
                             "\t\t\t\t\t        Public value:\t 0x1234\n" + kNoExeInfoLines},
             DecoderCase{"EntryCutInsideItsHash", msg(0x51, authCheckHead(1) + head(key(4), 20)), kPlain,
                         keyCountLines(1) + "\t\t\t\t\t       Key 0:\n" + "\t\t\t\t\t        Length:\t\t 26\n" +
                             "\t\t\t\t\t        Product:\t 4\n" + "\t\t\t\t\t        Public value:\t 0x1234567\n" +
                             "\t\t\t\t\t        CD key hash:\t04050607\n" + kNoExeInfoLines},
             DecoderCase{"MessageEndsInsideTheHead", msg(0x51, dword(0x5EED) + Bytes{1, 2}), kPlain,
                         "Client Token:\t 0x5EED\n" + kIndent + "EXE Version:\t 0x201\n" + kIndent +
                             "EXE Hash:\t 0x0\n" + kIndent + "Number of keys:\t 0\n" + kIndent + "Using Spawn:\t 0\n" +
                             kNoExeInfoLines});

}  // namespace
}  // namespace vestrel::test
