#include "whole_session.h"

#include <ostream>
#include <string_view>

#include "hex_dump.h"

namespace vestrel::live {

namespace {

SessionMessage client(uint8_t id, const char* name, const Bytes& body, std::string details,
                      std::optional<std::string> fullDetails = std::nullopt) {
  return {Side::Client, id, name, msg(id, body), std::move(details), std::move(fullDetails)};
}

SessionMessage server(uint8_t id, const char* name, const Bytes& body, std::string details,
                      std::optional<std::string> fullDetails = std::nullopt) {
  return {Side::Server, id, name, msg(id, body), std::move(details), std::move(fullDetails)};
}

SessionMessage packed(SessionMessage message) {
  message.packWithNext = true;
  return message;
}

SessionMessage split(SessionMessage message, size_t at) {
  message.splitAt = at;
  return message;
}

// A chat event with the three unused dwords as servers fill them.
Bytes event(uint32_t id, uint32_t flags, uint32_t ping, std::string_view user, std::string_view text) {
  return dword(id) + dword(flags) + dword(ping) + dword(0) + dword(0xBAADF00D) + dword(0xBAADF00D) + cstr(user) +
         cstr(text);
}

constexpr std::string_view kKeyHash0 = "9C0123456789ABCDEF001032547698BADCFE7F80";
constexpr std::string_view kKeyHash1 = "0F1E2D3C4B5A69788796A5B4C3D2E1F0FF0E1D2C";
constexpr std::string_view kPasswordHash = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
constexpr std::string_view kClientKey = "9CC1E60B30557A9FC4E90E33587DA2C7EC11365B80A5CAEF14395E83A8CDF217";
constexpr std::string_view kSaltAndServerKey =
    "054E97E02972BB044D96DF2871BA034C95DE2770B9024B94DD266FB8014A93DC"
    "256EB7004992DB246DB6FF4891DA236CB5FE4790D9226BB4FD468FD8216AB3FC";
constexpr std::string_view kClientProof = "F00D2A4764819EBBD8F5122F4C6986A3C0DDFA17";
constexpr std::string_view kServerProof = "0A3F74A9DE13487DB2E71C5186BBF0255A8FC4F9";

// Logon up to the account proof, and the legacy logon the client tries first.
std::vector<SessionMessage> logon() {
  const std::string checkHead =
      "Client Token:\t 0x1F3A5C7E\n"
      "\t\t\t\t       EXE Version:\t 0x1100001\n"
      "\t\t\t\t       EXE Hash:\t 0x9E4D2B61\n"
      "\t\t\t\t       Number of keys:\t 2\n"
      "\t\t\t\t       Using Spawn:\t 0\n"
      "\t\t\t\t\t       Key 0:\n"
      "\t\t\t\t\t        Length:\t\t 26\n"
      "\t\t\t\t\t        Product:\t 28\n"
      "\t\t\t\t\t        Public value:\t 0xA1B2C3\n";
  const std::string key0Hash = "\t\t\t\t\t        CD key hash:\t" + std::string(kKeyHash0) + "\n";
  const std::string key1 =
      "\t\t\t\t\t       Key 1:\n"
      "\t\t\t\t\t        Length:\t\t 16\n"
      "\t\t\t\t\t        Product:\t 4\n"
      "\t\t\t\t\t        Public value:\t 0x3F00E1\n";
  const std::string key1Hash = "\t\t\t\t\t        CD key hash:\t" + std::string(kKeyHash1) + "\n";
  const std::string checkTail =
      "\t\t\t\t       EXE Info:\t game.exe 02/29/24 03:04:05 1462272\n"
      "\t\t\t\t       Key Owner:\t alice\n";

  return {
      // The header itself is cut: three bytes, then the rest.
      split(client(0x50, "SID_AUTH_INFO",
                   dword(0) + raw("68XI") + raw("NB2W") + dword(0x4F) + raw("SUne") + byte(127) + byte(0) + byte(0) +
                       byte(1) + dword(0xFFFFFFC4) + dword(0x809) + dword(0x809) + cstr("GBR") + cstr("United Kingdom"),
                   "Protocol ID:\t 0\n"
                   "\t\t\t\t       Platform ID:\t 68XI\n"
                   "\t\t\t\t       Program ID:\t NB2W\n"
                   "\t\t\t\t       Version byte:\t 0x4F\n"
                   "\t\t\t\t       Product Langauge: 1701729619\n"
                   "\t\t\t\t       Local IP:\t 127.0.0.1\n"
                   "\t\t\t\t       Timezone Bias:\t 4294967236\n"
                   "\t\t\t\t       Locale ID:\t 2057\n"
                   "\t\t\t\t       Langauge ID:\t 2057\n"
                   "\t\t\t\t       Country Abbr.:\t GBR\n"
                   "\t\t\t\t       Country Name:\t United Kingdom\n"),
            3),
      packed(server(0x25, "SID_PING", dword(0x6C2D1F0A), "Ping value: 0x6C2D1F0A\n")),
      // File time 0x01DA6ABBF4D6D6FF: 2024-02-29 03:04:05.9999999, the
      // fraction dropped.
      server(0x50, "SID_AUTH_INFO",
             dword(2) + dword(0x9A3F51C4) + dword(0x4A1B2C3D) + dword(0xF4D6D6FF) + dword(0x01DA6ABB) +
                 cstr("ver-IX86-5.mpq") + cstr("A=3845581634 B=880823580 C=1363937103 4 A=A-S B=B-C C=C-A A=A-B"),
             "Logon Type:\t 2 (NLS version 2)\n"
             "\t\t\t\t       Server Token:\t 0x9A3F51C4\n"
             "\t\t\t\t       UDP Value:\t 0x4A1B2C3D\n"
             "\t\t\t\t       MPQ Filetime:\t 29/2/2024 3:4:5\n"
             "\t\t\t\t       Verfile name:\t ver-IX86-5.mpq\n"
             "\t\t\t\t       Valuestring:\t A=3845581634 B=880823580 C=1363937103 4 A=A-S B=B-C C=C-A A=A-B\n"),
      client(0x25, "SID_PING", dword(0x6C2D1F0A), "Ping value: 0x6C2D1F0A\n"),
      // Cut inside the second key's hash; the rest shares a segment with the
      // file time request.
      packed(split(client(0x51, "SID_AUTH_CHECK",
                          dword(0x1F3A5C7E) + dword(0x01100001) + dword(0x9E4D2B61) + dword(2) + dword(0) + dword(26) +
                              dword(28) + dword(0x00A1B2C3) + dword(0) + hexBytes(kKeyHash0) + dword(16) + dword(4) +
                              dword(0x003F00E1) + dword(0x1234) + hexBytes(kKeyHash1) +
                              cstr("game.exe 02/29/24 03:04:05 1462272") + cstr("alice"),
                          checkHead + key0Hash + key1 + key1Hash + checkTail,
                          checkHead + "\t\t\t\t\t        [Unknown]:\t 0x0\n" + key0Hash + key1 +
                              "\t\t\t\t\t        [Unknown]:\t 0x1234\n" + key1Hash + checkTail),
                   85)),
      client(0x33, "SID_GETFILETIME", dword(0x80000004) + dword(0) + cstr("tos_USA.txt"),
             "Request ID: 0x80000004, Filename: tos_USA.txt\n",
             "Request ID: 0x80000004, [Unknown]: 0x0, Filename: tos_USA.txt\n"),
      packed(server(0x51, "SID_AUTH_CHECK", dword(0) + cstr(""), "Result: 0x0 (Passed), Extra Info:  <none>\n")),
      // File time 0x01D6DFD10BE934C0: 2020-12-31 23:59:59.5.
      server(0x33, "SID_GETFILETIME",
             dword(0x80000004) + dword(0x42) + dword(0x0BE934C0) + dword(0x01D6DFD1) + cstr("tos_USA.txt"),
             "Request ID: 0x80000004, Last modified: 31/12/2020 23:59:59, Filename: tos_USA.txt\n",
             "Request ID: 0x80000004, [Unknown]: 0x42, Last modified: 31/12/2020 23:59:59, Filename: tos_USA.txt\n"),
      // The user name follows the hash on its line.
      client(0x3A, "SID_LOGONRESPONSE2",
             dword(0x1F3A5C7E) + dword(0x9A3F51C4) + hexBytes(kPasswordHash) + cstr("alice"),
             "Client Token:\t 0x1F3A5C7E\n"
             "\t\t\t\t       Server Token:\t 0x9A3F51C4\n"
             "Password hash: " +
                 std::string(kPasswordHash) + "\t\t\t\t       Username:\t alice\n"),
      server(0x3A, "SID_LOGONRESPONSE2", dword(2), "Result: 0x2 (Failed; Incorrect password)\n"),
      client(0x53, "SID_AUTH_ACCOUNTLOGON", hexBytes(kClientKey) + cstr("alice"), "Account name: alice\n",
             "[Unknown]: " + std::string(kClientKey) + ", Account name: alice\n"),
      split(server(0x53, "SID_AUTH_ACCOUNTLOGON", dword(0) + hexBytes(kSaltAndServerKey), "Result: 0x0 (Success)\n",
                   "Result: 0x0 (Success), [Unknown]: " + std::string(kSaltAndServerKey) + "\n"),
            30),
      client(0x54, "SID_AUTH_ACCOUNTLOGONPROOF\t", hexBytes(kClientProof), "\n",
             "[Unknown]: " + std::string(kClientProof) + "\n"),
      // The extra text servers add is read by no one.
      server(0x54, "SID_AUTH_ACCOUNTLOGONPROOF\t", dword(0) + hexBytes(kServerProof) + cstr(""),
             "Result: 0x0 (Success)\n", "Result: 0x0 (Success), [Unknown]: " + std::string(kServerProof) + "\n"),
  };
}

// Account management after the logon: creating, changing and upgrading an
// account, and the older logon message, so every decoder of both directions
// runs on the live path.
std::vector<SessionMessage> accounts() {
  const std::string saltAndKey(kSaltAndServerKey);
  const std::string clientKey(kClientKey);
  const std::string serverProof(kServerProof);
  const std::string changeProof = std::string(kClientProof) + saltAndKey;  // 84 bytes
  return {
      client(0x52, "SID_AUTH_ACCOUNTCREATE", hexBytes(kSaltAndServerKey) + cstr("carol"),
             "Password data: " + saltAndKey + ", Account name: carol\n"),
      server(0x52, "SID_AUTH_ACCOUNTCREATE", dword(7) + hexBytes(kServerProof),
             "Result: 0x7 (Failed; Name too short), Password Proof: " + serverProof + "\n"),
      // Without -u the line starts with the comma.
      client(0x55, "SID_AUTH_ACCOUNTCHANGE", hexBytes(kClientKey) + cstr("alice"), ", Account name: alice\n",
             "[Unknown]: " + clientKey + ", Account name: alice\n"),
      packed(server(0x55, "SID_AUTH_ACCOUNTCHANGE", dword(5) + hexBytes(kSaltAndServerKey),
                    "Result: 0x5 (Failed; Account requires upgrade)\n",
                    "Result: 0x5 (Failed; Account requires upgrade), [Unknown]: " + saltAndKey + "\n")),
      server(0x57, "SID_AUTH_ACCOUNTUPGRADE", dword(0) + dword(0x5EED1234),
             "Result: 0x0 (Success), Server key: 0x5EED1234\n"),
      client(0x58, "SID_AUTH_ACCOUNTUPGRADEPROOF\t", hexBytes(changeProof), "\n", "[Unknown]: " + changeProof + "\n"),
      // The proof is shown with or without -u.
      server(0x58, "SID_AUTH_ACCOUNTUPGRADEPROOF\t", dword(2) + hexBytes(kServerProof),
             "Result: 0x2 (Failed; Incorrect old password), Password proof: " + serverProof + "\n"),
      split(client(0x56, "SID_AUTH_ACCOUNTCHANGEPROOF \t", hexBytes(changeProof), "\n",
                   "[Unknown]: " + changeProof + "\n"),
            50),
      server(0x56, "SID_AUTH_ACCOUNTCHANGEPROOF \t", dword(0) + hexBytes(kServerProof), "Result: 0x0 (Success)\n",
             "Result: 0x0 (Success), [Unknown]: " + serverProof + "\n"),
      client(0x29, "SID_LOGONRESPONSE", dword(0x2B) + dword(0x9A3F51C4) + hexBytes(kPasswordHash) + cstr("carol"),
             "Client Token:\t 0x2B\n"
             "\t\t\t\t       Server Token:\t 0x9A3F51C4\n"
             "Password hash: " +
                 std::string(kPasswordHash) + "\t\t\t\t       Username:\t carol\n"),
      server(0x29, "SID_LOGONRESPONSE", dword(1), "Result: 0x1 (Success)\n"),
  };
}

// From entering the chat to leaving it. Event texts over 15 bytes and
// commands over 32 are cut without -s; control bytes show escaped.
std::vector<SessionMessage> chat() {
  return {
      packed(client(0x0A, "SID_ENTERCHAT", cstr("alice") + cstr(""), "Username: alice, Statstring: \n")),
      client(0x0B, "SID_GETCHANNELLIST", raw("NB2W"), "Program ID: NB2W\n"),
      packed(server(0x0A, "SID_ENTERCHAT", cstr("alice") + cstr("NB2W 0 0 0 0 0 0 0 0 NB2W") + cstr("alice"),
                    "Unique name: alice, Statstring: NB2W 0 0 0 0 0 0 0 0 NB2W, Account name: alice\n")),
      server(0x0B, "SID_GETCHANNELLIST",
             cstr("Chat Lounge") + cstr("Op Vestrel") + cstr("Tech Support") + cstr("Public Chat 1") +
                 cstr("Town Square") + cstr("Lobby") + cstr(""),
             "Channels: Chat Lounge, Op Vestrel, Tech Support, Public Chat 1,\n"
             "\t\t\t\t       Town Square, Lobby.\n"),
      client(0x0C, "SID_JOINCHANNEL", dword(1) + cstr("Town Square"), "Flags: 0x01, Channel Name: Town Square\n"),
      packed(server(0x0F, "SID_CHATEVENT", event(7, 0x01, 0, "alice", "Town Square"),
                    "EID_CHANNEL, Flags: 0x01, Ping: 0, User: alice, Text: Town Square\n")),
      packed(server(0x0F, "SID_CHATEVENT", event(1, 0x00, 31, "alice", "NB2W 0 0 0 0 0 0 0 0 NB2W"),
                    "EID_SHOWUSER, Flags: 0x00, Ping: 31, User: alice, Text: NB2W 0 0 0 0 0 0 [...]\n",
                    "EID_SHOWUSER, Flags: 0x00, Ping: 31, User: alice, Text: NB2W 0 0 0 0 0 0 0 0 NB2W\n")),
      packed(server(0x0F, "SID_CHATEVENT", event(1, 0x10, 120, "bob", "RATS 1 2 3"),
                    "EID_SHOWUSER, Flags: 0x10, Ping: 120, User: bob, Text: RATS 1 2 3\n")),
      packed(server(0x0F, "SID_CHATEVENT", event(1, 0x02, 0xFFFFFFFF, "carol", "PX3W"),
                    "EID_SHOWUSER, Flags: 0x02, Ping: 4294967295, User: carol, Text: PX3W\n")),
      server(0x0F, "SID_CHATEVENT", event(2, 0x00, 250, "dave", "VD2D"),
             "EID_JOIN, Flags: 0x00, Ping: 250, User: dave, Text: VD2D\n"),
      client(0x0E, "SID_CHATCOMMAND", cstr("hi all"), "hi all\n"),
      // 16 bytes (the last three an e acute in UTF-8 and a question mark):
      // shown whole, yet marked.
      packed(server(0x0F, "SID_CHATEVENT", event(5, 0x10, 120, "bob", "hi alice, caf\xC3\xA9?"),
                    "EID_TALK, Flags: 0x10, Ping: 120, User: bob, Text: hi alice, caf\xC3\xA9? [...]\n",
                    "EID_TALK, Flags: 0x10, Ping: 120, User: bob, Text: hi alice, caf\xC3\xA9?\n")),
      // 15 bytes: whole and unmarked.
      server(0x0F, "SID_CHATEVENT", event(23, 0x02, 0xFFFFFFFF, "carol", "waves to all :)"),
             "EID_EMOTE, Flags: 0x02, Ping: 4294967295, User: carol, Text: waves to all :)\n"),
      client(0x0E, "SID_CHATCOMMAND", cstr("/w carol are you coming to the meeting tonight?"),
             "/w carol are you coming to the me [...]\n", "/w carol are you coming to the meeting tonight?\n"),
      packed(split(server(0x0F, "SID_CHATEVENT", event(4, 0x00, 250, "dave", "hey alice, want to join my clan?"),
                          "EID_WHISPER, Flags: 0x00, Ping: 250, User: dave, Text: hey alice, want  [...]\n",
                          "EID_WHISPER, Flags: 0x00, Ping: 250, User: dave, Text: hey alice, want to join my clan?\n"),
                   9)),
      packed(server(0x0F, "SID_CHATEVENT", event(18, 0x00, 0, "", "Welcome to the chat server!"),
                    "EID_INFO, Flags: 0x00, Ping: 0, User: , Text: Welcome to the c [...]\n",
                    "EID_INFO, Flags: 0x00, Ping: 0, User: , Text: Welcome to the chat server!\n")),
      packed(server(0x0F, "SID_CHATEVENT", event(26, 0x00, 250, "dave", ""),
                    "EID_UNK0x0000001A, Flags: 0x00, Ping: 250, User: dave, Text: \n")),
      // A screen-clearing escape and a newline are shown, not obeyed.
      packed(server(0x0F, "SID_CHATEVENT", event(5, 0x120, 63, "mallory", "\x1B[2Jcleared\nok"),
                    "EID_TALK, Flags: 0x120, Ping: 63, User: mallory, Text: \\x1B[2Jcleared\\x0Aok\n")),
      // The cut takes 16 bytes, the escape the last of them; then the escape
      // is shown as four characters.
      server(0x0F, "SID_CHATEVENT", event(5, 0x120, 63, "mallory\x7F", "0123456789ABCDE\x1B[31mred"),
             "EID_TALK, Flags: 0x120, Ping: 63, User: mallory\\x7F, Text: 0123456789ABCDE\\x1B [...]\n",
             "EID_TALK, Flags: 0x120, Ping: 63, User: mallory\\x7F, Text: 0123456789ABCDE\\x1B[31mred\n"),
      client(0x0E, "SID_CHATCOMMAND", cstr("line one\nline two\x7F"), "line one\\x0Aline two\\x7F\n"),
      server(0x0F, "SID_CHATEVENT", event(3, 0x10, 120, "bob", ""),
             "EID_LEAVE, Flags: 0x10, Ping: 120, User: bob, Text: \n"),
      // No decoder: the summary alone.
      client(0x10, "SID_LEAVECHAT", {}, "\n"),
  };
}

}  // namespace

std::vector<SessionMessage> wholeSession() {
  std::vector<SessionMessage> session = logon();
  for (SessionMessage& message : accounts()) session.push_back(std::move(message));
  for (SessionMessage& message : chat()) session.push_back(std::move(message));
  return session;
}

// Sends the session one segment at a time, as each message says.
void sendInSegments(ChatConnection& connection, const std::vector<SessionMessage>& session) {
  Bytes pending;
  for (size_t i = 0; i < session.size(); ++i) {
    const SessionMessage& message = session[i];
    if (message.splitAt != 0) {
      connection.sends(message.from, pending + head(message.bytes, message.splitAt));
      pending = tail(message.bytes, message.splitAt);
    } else {
      pending = pending + message.bytes;
    }
    if (message.packWithNext) {
      ASSERT_LT(i + 1, session.size()) << "the last message has nothing to share a segment with";
      ASSERT_EQ(session[i + 1].from, message.from) << "one segment cannot hold both sides' messages";
      continue;
    }
    connection.sends(message.from, pending);
    pending.clear();
  }
}

void PrintTo(const OptionSet& set, std::ostream* out) { *out << set.name; }

const std::vector<OptionSet>& sessionOptionSets() {
  static const std::vector<OptionSet> sets{
      {"Plain", {}, false, false},
      {"UnknownFieldsAndWholeTexts", {"-u", "-s"}, true, false},
      {"UnknownFieldsWholeTextsAndLog", {"-u", "-s"}, true, true},
  };
  return sets;
}

std::vector<std::string> WholeSessionTest::captureOptions() const {
  std::vector<std::string> options = GetParam().options;
  if (GetParam().log) {
    options.push_back("-l");
    options.push_back(logPath_.string());
  }
  return options;
}

void WholeSessionTest::sendWholeSession() {
  connection_ = connect();
  connection_->clientSends(byte(0x01));  // the protocol byte, on its own
  sendInSegments(*connection_, session_);
}

void WholeSessionTest::expectWholeSession() {
  std::string lines;
  std::string log;
  for (const SessionMessage& message : session_) {
    const std::string& details = GetParam().full && message.fullDetails ? *message.fullDetails : message.details;
    lines += summaryLine(message.from, message.id, message.name, details);
    log += hexDump(message.from, message.bytes);
  }
  if (GetParam().log) {
    expectLinesAndLog(lines, logPath_, log + hexDump(Side::Client, endMark()));
  } else {
    expectLines(lines);
  }
}

}  // namespace vestrel::live
