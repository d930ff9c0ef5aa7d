// Messages the server sends: every decoder's exact text, every code in and
// out of the result tables, and what short or hostile messages print.
#include <gtest/gtest.h>

#include "decoder_cases.h"

namespace vestrel::test {
namespace {

class ServerDecoder : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(ServerDecoder, PrintsTheFields) {
  EXPECT_EQ(decodedDetails(false, GetParam().message, GetParam().flags), GetParam().details);
}

#define SERVER_CASES(group, ...)                                                 \
  INSTANTIATE_TEST_SUITE_P(group, ServerDecoder, ::testing::Values(__VA_ARGS__), \
                           [](const auto& info) { return std::string(info.param.name); })

// 2026-12-07 06:52:33.1234567 UTC, and 2000-02-29 23:59:59.9999999.
const Bytes kModernFileTime = dword(0x88F6E507) + dword(0x01DD8617);
const Bytes kLeapDayFileTime = dword(0x16363FFF) + dword(0x01BF8311);

Bytes chatEvent(uint32_t event, std::string_view user, std::string_view text, uint32_t flags = 0, uint32_t ping = 32) {
  return msg(0x0F, dword(event) + dword(flags) + dword(ping) + dword(0x0100007F) + dword(1) + dword(2) + cstr(user) +
                       cstr(text));
}

SERVER_CASES(Chat,
             DecoderCase{"EnterChatReply", msg(0x0A, cstr("alice#2") + cstr("PX3W 0 0") + cstr("alice")), kPlain,
                         "Unique name: alice#2, Statstring: PX3W 0 0, Account name: alice\n"},
             DecoderCase{"Ping", msg(0x25, dword(0x1234ABCD)), kPlain, "Ping value: 0x1234ABCD\n"},
             DecoderCase{"Talk", chatEvent(5, "bob", "hi alice"), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: hi alice\n"},
             DecoderCase{"FlagsAndLargePing", chatEvent(1, "bob", "PX3W 0 0", 0x12, 0xFFFFFFFF), kPlain,
                         "EID_SHOWUSER, Flags: 0x12, Ping: 4294967295, User: bob, Text: PX3W 0 0\n"},
             DecoderCase{"EventWithoutText", msg(0x0F, dword(3) + dword(0) + dword(0) + Bytes(12, 0xEE) + cstr("bob")),
                         kPlain, "EID_LEAVE, Flags: 0x00, Ping: 0, User: bob, Text: \n"},
             DecoderCase{"EmptyEvent", msg(0x0F), kPlain, "EID_UNK0x00000000, Flags: 0x00, Ping: 0, User: , Text: \n"},
             DecoderCase{"UserAndTextEscaped", chatEvent(5, "x\x1B[1m", "\x1B[2J\x1B[H"), kFull,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: x\\x1B[1m, Text: \\x1B[2J\\x1B[H\n"});

// Every named event id, and ids between and beyond them.
SERVER_CASES(
    ChatEventIds,
    DecoderCase{"ShowUser", chatEvent(1, "u", ""), kPlain, "EID_SHOWUSER, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Join", chatEvent(2, "u", ""), kPlain, "EID_JOIN, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Leave", chatEvent(3, "u", ""), kPlain, "EID_LEAVE, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Whisper", chatEvent(4, "u", ""), kPlain, "EID_WHISPER, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Broadcast", chatEvent(6, "u", ""), kPlain, "EID_BROADCAST, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Channel", chatEvent(7, "u", ""), kPlain, "EID_CHANNEL, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"UserFlags", chatEvent(9, "u", ""), kPlain, "EID_USERFLAGS, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"WhisperSent", chatEvent(10, "u", ""), kPlain,
                "EID_WHISPERSENT, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"ChannelFull", chatEvent(13, "u", ""), kPlain,
                "EID_CHANNELFULL, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"ChannelDoesNotExist", chatEvent(14, "u", ""), kPlain,
                "EID_CHANNELDOESNOTEXIST, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"ChannelRestricted", chatEvent(15, "u", ""), kPlain,
                "EID_CHANNELRESTRICTED, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Info", chatEvent(18, "u", ""), kPlain, "EID_INFO, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Error", chatEvent(19, "u", ""), kPlain, "EID_ERROR, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Emote", chatEvent(23, "u", ""), kPlain, "EID_EMOTE, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Unknown8", chatEvent(8, "u", ""), kPlain,
                "EID_UNK0x00000008, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Unknown11", chatEvent(11, "u", ""), kPlain,
                "EID_UNK0x0000000B, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"Unknown24", chatEvent(24, "u", ""), kPlain,
                "EID_UNK0x00000018, Flags: 0x00, Ping: 32, User: u, Text: \n"},
    DecoderCase{"UnknownLargest", chatEvent(0xFFFFFFFF, "u", ""), kPlain,
                "EID_UNK0xFFFFFFFF, Flags: 0x00, Ping: 32, User: u, Text: \n"});

// Texts are cut to 16 bytes when longer than 15, unless -s.
SERVER_CASES(ChatEventTextLength,
             DecoderCase{"FifteenBytesWhole", chatEvent(5, "bob", digits(15)), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(15) + "\n"},
             DecoderCase{"SixteenBytesWholeAndMarked", chatEvent(5, "bob", digits(16)), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(16) + " [...]\n"},
             DecoderCase{"TwentyBytesCut", chatEvent(5, "bob", digits(20)), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(16) + " [...]\n"},
             DecoderCase{"TwentyBytesWithFullStrings", chatEvent(5, "bob", digits(20)), kFull,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(20) + "\n"},
             DecoderCase{"UserNameNeverCut", chatEvent(5, digits(40), "x"), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: " + digits(40) + ", Text: x\n"},
             DecoderCase{"CutBeforeEscaping", chatEvent(5, "bob", digits(15) + "\n" + digits(9)), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(15) + "\\x0A [...]\n"},
             // A Korean letter is three bytes; the two before the cut are no character.
             DecoderCase{"CutInsideACharacter", chatEvent(5, "bob", digits(14) + "\xED\x95\x9C!"), kPlain,
                         "EID_TALK, Flags: 0x00, Ping: 32, User: bob, Text: " + digits(14) + "\\xED\\x95 [...]\n"});

// The list ends at an empty name; names go four to a line.
SERVER_CASES(ChannelList, DecoderCase{"OneName", msg(0x0B, cstr("Lobby") + cstr("")), kPlain, "Channels: Lobby.\n"},
             DecoderCase{"FourNames", msg(0x0B, cstr("A") + cstr("B") + cstr("C") + cstr("D") + cstr("")), kPlain,
                         "Channels: A, B, C, D.\n"},
             DecoderCase{"FiveNames", msg(0x0B, cstr("A") + cstr("B") + cstr("C") + cstr("D") + cstr("E") + cstr("")),
                         kPlain, "Channels: A, B, C, D,\n\t\t\t\t       E.\n"},
             DecoderCase{"NineNames",
                         msg(0x0B, cstr("Lobby") + cstr("Op alice") + cstr("Clan BOTS") + cstr("Public Chat 1") +
                                       cstr("Trade") + cstr("Help") + cstr("Blizzard Tech Support") +
                                       cstr("Town Square") + cstr("Void") + cstr("")),
                         kPlain,
                         "Channels: Lobby, Op alice, Clan BOTS, Public Chat 1,\n"
                         "\t\t\t\t       Trade, Help, Blizzard Tech Support, Town Square,\n"
                         "\t\t\t\t       Void.\n"},
             DecoderCase{"EmptyList", msg(0x0B, cstr("")), kPlain, "Channels: .\n"},
             DecoderCase{"EmptyBody", msg(0x0B), kPlain, "Channels: .\n"},
             DecoderCase{"ListEndingWithTheMessage", msg(0x0B, cstr("A") + raw("B")), kPlain, "Channels: A, B.\n"},
             DecoderCase{"NameEscaped", msg(0x0B, cstr("A") + cstr("\x1B[2J") + cstr("")), kPlain,
                         "Channels: A, \\x1B[2J.\n"});

SERVER_CASES(Logon, DecoderCase{"LogonFailed", msg(0x29, dword(0)), kPlain, "Result: 0x0 (Failed)\n"},
             DecoderCase{"LogonSucceeded", msg(0x29, dword(1)), kPlain, "Result: 0x1 (Success)\n"},
             DecoderCase{"LogonOtherResult", msg(0x29, dword(0x2A)), kPlain, "Result: 0x2A\n"},
             DecoderCase{"Logon2Succeeded", msg(0x3A, dword(0)), kPlain, "Result: 0x0 (Success)\n"},
             DecoderCase{"Logon2NoSuchAccount", msg(0x3A, dword(1)), kPlain, "Result: 0x1 (Failed; No such account)\n"},
             DecoderCase{"Logon2IncorrectPassword", msg(0x3A, dword(2) + cstr("")), kPlain,
                         "Result: 0x2 (Failed; Incorrect password)\n"},
             DecoderCase{"Logon2OtherResult", msg(0x3A, dword(6) + cstr("closed")), kPlain, "Result: 0x6\n"},
             DecoderCase{"FileTimeReply",
                         msg(0x33, dword(0x80000004) + dword(0) + kModernFileTime + cstr("bnserver.ini")), kPlain,
                         "Request ID: 0x80000004, Last modified: 7/12/2026 6:52:33, Filename: bnserver.ini\n"},
             DecoderCase{
                 "FileTimeReplyWithUnknown",
                 msg(0x33, dword(0x80000004) + dword(7) + kLeapDayFileTime + cstr("tos.txt")), kUnknown,
                 "Request ID: 0x80000004, [Unknown]: 0x7, Last modified: 29/2/2000 23:59:59, Filename: tos.txt\n"},
             DecoderCase{"FileTimeZero", msg(0x33, dword(1) + dword(0) + dword(0) + dword(0) + cstr("a")), kPlain,
                         "Request ID: 0x1, Last modified: 1/1/1601 0:0:0, Filename: a\n"},
             DecoderCase{"FileTimeLargest", msg(0x33, dword(1) + dword(0) + dword(0xFFFFFFFF) + dword(0xFFFFFFFF)),
                         kPlain, "Request ID: 0x1, Last modified: 28/5/60056 5:36:10, Filename: \n"});

std::string challengeLines(const std::string& logonType) {
  return "Logon Type:\t " + logonType + kIndent + "Server Token:\t 0x1234ABCD\n" + kIndent +
         "UDP Value:\t 0xBADF00D\n" + kIndent + "MPQ Filetime:\t 7/12/2026 6:52:33\n" + kIndent +
         "Verfile name:\t ver-IX86-1.mpq\n" + kIndent + "Valuestring:\t A=1 B=2 C=3 4 A=A+S\n";
}
Bytes challenge(uint32_t logonType) {
  return msg(0x50, dword(logonType) + dword(0x1234ABCD) + dword(0x0BADF00D) + kModernFileTime + cstr("ver-IX86-1.mpq") +
                       cstr("A=1 B=2 C=3 4 A=A+S"));
}

SERVER_CASES(AuthChallenge, DecoderCase{"BrokenSha1", challenge(0), kPlain, challengeLines("0 (Broken SHA-1)\n")},
             DecoderCase{"NlsVersion1", challenge(1), kPlain, challengeLines("1 (NLS version 1)\n")},
             DecoderCase{"NlsVersion2", challenge(2), kPlain, challengeLines("2 (NLS version 2)\n")},
             DecoderCase{"OtherLogonType", challenge(7), kPlain, challengeLines("7\n")});

SERVER_CASES(AuthCheckResult,
             DecoderCase{"PassedWithoutExtraInfo", msg(0x51, dword(0) + cstr("")), kPlain,
                         "Result: 0x0 (Passed), Extra Info:  <none>\n"},
             DecoderCase{"MustUpgrade", msg(0x51, dword(0x100) + cstr("IX86ver2.mpq")), kPlain,
                         "Result: 0x100 (Failed; User must upgrade), Extra Info: IX86ver2.mpq\n"},
             DecoderCase{"InvalidVersion", msg(0x51, dword(0x101) + cstr("x")), kPlain,
                         "Result: 0x101 (Failed; Invalid version), Extra Info: x\n"},
             DecoderCase{"MustDowngrade", msg(0x51, dword(0x102) + cstr("x")), kPlain,
                         "Result: 0x102 (Failed; User must downgrade), Extra Info: x\n"},
             DecoderCase{"InvalidKey", msg(0x51, dword(0x200) + cstr("")), kPlain,
                         "Result: 0x200 (Failed; Invalid CD key), Extra Info:  <none>\n"},
             DecoderCase{"KeyInUse", msg(0x51, dword(0x201) + cstr("bob")), kPlain,
                         "Result: 0x201 (Failed; CD key in use), Extra Info: bob\n"},
             DecoderCase{"KeyBanned", msg(0x51, dword(0x202) + cstr("x")), kPlain,
                         "Result: 0x202 (Failed; CD key is banned), Extra Info: x\n"},
             DecoderCase{"KeyForAnotherProduct", msg(0x51, dword(0x203) + cstr("x")), kPlain,
                         "Result: 0x203 (Failed; CD key doesn't match product), Extra Info: x\n"},
             DecoderCase{"CodeOutsideTheTable", msg(0x51, dword(0x210) + cstr("x")), kPlain,
                         "Result: 0x210Extra Info: x\n"},
             DecoderCase{"NoExtraInfoField", msg(0x51, dword(0)), kPlain,
                         "Result: 0x0 (Passed), Extra Info:  <none>\n"},
             DecoderCase{"ExtraInfoEscaped", msg(0x51, dword(0x201) + cstr("\r\n")), kPlain,
                         "Result: 0x201 (Failed; CD key in use), Extra Info: \\x0D\\x0A\n"});

std::string createResult(const char* code, const char* text) {
  return std::string("Result: ") + code + " " + text + "Password Proof: " + countingHex(20) + "\n";
}

SERVER_CASES(AccountCreateResult,
             DecoderCase{"Success", msg(0x52, dword(0) + counting(20)), kPlain, createResult("0x0", "(Success), ")},
             DecoderCase{"NameTooShort", msg(0x52, dword(7) + counting(20)), kPlain,
                         createResult("0x7", "(Failed; Name too short), ")},
             DecoderCase{"IllegalCharacters", msg(0x52, dword(8) + counting(20)), kPlain,
                         createResult("0x8", "(Failed; Illegal characters), ")},
             DecoderCase{"IllegalWords", msg(0x52, dword(9) + counting(20)), kPlain,
                         createResult("0x9", "(Failed; Illegal words), ")},
             DecoderCase{"InsufficientAlphanumerics", msg(0x52, dword(10) + counting(20)), kPlain,
                         createResult("0xA", "(Failed; Insufficient alphanumeric characters), ")},
             DecoderCase{"AdjacentPunctuation", msg(0x52, dword(11) + counting(20)), kPlain,
                         createResult("0xB", "(Failed; Adjacent punctuation), ")},
             DecoderCase{"ExcessivePunctuation", msg(0x52, dword(12) + counting(20)), kPlain,
                         createResult("0xC", "(Failed; Excessive punctuation), ")},
             DecoderCase{"OtherCode", msg(0x52, dword(3) + counting(20)), kPlain, createResult("0x3", "(Failed), ")},
             DecoderCase{"ProofMissing", msg(0x52, dword(0)), kPlain, "Result: 0x0 (Success), Password Proof: \n"},
             DecoderCase{"ProofCut", msg(0x52, dword(0) + counting(3)), kPlain,
                         "Result: 0x0 (Success), Password Proof: 000102\n"});

SERVER_CASES(
    AccountResults, DecoderCase{"LogonSuccess", msg(0x53, dword(0) + counting(64)), kPlain, "Result: 0x0 (Success)\n"},
    DecoderCase{"LogonNoSuchAccount", msg(0x53, dword(1) + counting(64)), kPlain,
                "Result: 0x1 (Failed; No such account)\n"},
    DecoderCase{"LogonRequiresUpgrade", msg(0x53, dword(5) + counting(64)), kPlain,
                "Result: 0x5 (Failed; Account requires upgrade)\n"},
    DecoderCase{"LogonOtherCode", msg(0x53, dword(2) + counting(64)), kPlain, "Result: 0x2 (Failed)\n"},
    DecoderCase{"LogonWithUnknown", msg(0x53, dword(0) + counting(64)), kUnknown,
                "Result: 0x0 (Success), [Unknown]: " + countingHex(64) + "\n"},
    DecoderCase{"ChangeSameDecoder", msg(0x55, dword(1) + counting(64, 0x40)), kUnknown,
                "Result: 0x1 (Failed; No such account), [Unknown]: " + countingHex(64, 0x40) + "\n"},
    DecoderCase{"LogonProofSuccess", msg(0x54, dword(0) + counting(20)), kPlain, "Result: 0x0 (Success)\n"},
    DecoderCase{"LogonProofIncorrectPassword", msg(0x54, dword(2) + counting(20)), kPlain,
                "Result: 0x2 (Failed; Incorrect password)\n"},
    DecoderCase{"LogonProofOtherCode", msg(0x54, dword(0xE) + cstr("e-mail")), kPlain, "Result: 0xE (Failed)\n"},
    DecoderCase{"LogonProofWithUnknown", msg(0x54, dword(0) + counting(20, 0xF0)), kUnknown,
                "Result: 0x0 (Success), [Unknown]: " + countingHex(16, 0xF0) + "00010203\n"},
    DecoderCase{"ChangeProofSuccess", msg(0x56, dword(0) + counting(20)), kPlain, "Result: 0x0 (Success)\n"},
    DecoderCase{"ChangeProofIncorrectOldPassword", msg(0x56, dword(2) + counting(20)), kPlain,
                "Result: 0x2 (Failed; Incorrect old password)\n"},
    DecoderCase{"ChangeProofOtherCode", msg(0x56, dword(1) + counting(20)), kPlain, "Result: 0x1 (Failed)\n"},
    DecoderCase{"ChangeProofWithUnknown", msg(0x56, dword(0) + counting(20)), kUnknown,
                "Result: 0x0 (Success), [Unknown]: " + countingHex(20) + "\n"},
    DecoderCase{"UpgradeSuccess", msg(0x57, dword(0) + dword(0x1234)), kPlain,
                "Result: 0x0 (Success), Server key: 0x1234\n"},
    DecoderCase{"UpgradeFailed", msg(0x57, dword(1) + dword(0x1234)), kPlain,
                "Result: 0x1 (Failed), Server key: 0x1234\n"},
    DecoderCase{"UpgradeProofAlwaysShowsTheProof", msg(0x58, dword(0) + counting(20)), kPlain,
                "Result: 0x0 (Success), Password proof: " + countingHex(20) + "\n"},
    DecoderCase{"UpgradeProofIncorrectOldPassword", msg(0x58, dword(2) + counting(20)), kUnknown,
                "Result: 0x2 (Failed; Incorrect old password), Password proof: " + countingHex(20) + "\n"},
    DecoderCase{"UpgradeProofOtherCode", msg(0x58, dword(9)), kPlain, "Result: 0x9 (Failed), Password proof: \n"});

// Ids the server table leaves out end the line at once.
SERVER_CASES(NoDecoder, DecoderCase{"JoinChannel", msg(0x0C, dword(5) + cstr("x")), kPlain, "\n"},
             DecoderCase{"ChatCommand", msg(0x0E, cstr("x")), kPlain, "\n"},
             DecoderCase{"UnknownId", msg(0x99, cstr("x")), kUnknown, "\n"});

}  // namespace
}  // namespace vestrel::test
