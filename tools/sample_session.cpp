#include "sample_session.h"

#include <string_view>
#include <utility>

#include "protocol_messages.h"
#include "session_player.h"

namespace vestrel::wire {

namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

constexpr Endpoint kServer{{198, 51, 100, 20}, 6112};
constexpr ConnectionSetup kAliceConnection{{{192, 0, 2, 10}, 50412}, kServer, 0x2F6A91C3, 0xC41B0D72, 38ms};
constexpr ConnectionSetup kErinConnection{{{192, 0, 2, 77}, 61023}, kServer, 0x8E03D5A7, 0x15F2C6E9, 64ms};
constexpr size_t kAlice = 0;
constexpr size_t kErin = 1;

// The script's words: who sends what, how long after the step before.
Step open(microseconds gap, size_t connection) { return {gap, connection, Action::Open}; }
Step close(microseconds gap, size_t connection) { return {gap, connection, Action::Close}; }
Step alice(microseconds gap, Bytes payload) { return {gap, kAlice, Action::Send, Side::Client, std::move(payload)}; }
Step toAlice(microseconds gap, Bytes payload) { return {gap, kAlice, Action::Send, Side::Server, std::move(payload)}; }
Step aliceAcks(microseconds gap) { return {gap, kAlice, Action::Ack, Side::Client}; }
Step erin(microseconds gap, Bytes payload) { return {gap, kErin, Action::Send, Side::Client, std::move(payload)}; }
Step toErin(microseconds gap, Bytes payload) { return {gap, kErin, Action::Send, Side::Server, std::move(payload)}; }
Step erinAcks(microseconds gap) { return {gap, kErin, Action::Ack, Side::Client}; }
Step serverAcksErin(microseconds gap) { return {gap, kErin, Action::Ack, Side::Server}; }

// alice plays the expansion with the newer account logon; erin the older
// game with the password-hash logon.
const ClientAuthInfo kAliceAuthInfo{"68XI", "PX3W", 0x1C,  "SUne", {192, 0, 2, 10},
                                    300,    0x409,  0x409, "USA",  "United States"};
const ClientAuthInfo kErinAuthInfo{"68XI", "VD2D", 0x0E, "EDed", {192, 0, 2, 77}, -60, 0x407, 0x407, "DEU", "Germany"};

const AuthChallenge kAliceChallenge{2,
                                    0x6E9F2C41,
                                    0x0D4B7A13,
                                    0x01DD5C006712F3A4,
                                    "ver-IX86-3.mpq",
                                    "A=1239576727 B=1604096186 C=4198514212 4 A=A+S B=B-C C=C^A A=A-B"};
const AuthChallenge kErinChallenge{0,
                                   0x3B81E5F0,
                                   0x5A09C2D7,
                                   0x01CC8DD7414DBB00,
                                   "ver-IX86-6.mpq",
                                   "A=3845581634 B=880823580 C=1363937103 4 A=A-S B=B-C C=C-A A=A-B"};

constexpr std::string_view kRocKeyHash = "5B2E8C41D09F7A36E1C4B8520F9D6A3B7E4C1D85";
constexpr std::string_view kTftKeyHash = "A07C3F91E5D2486B0C9E7F1A24D6B8053E9F6C12";
constexpr std::string_view kD2KeyHash = "3D8A1F6C9E2B475D0A8C6E1F3B9D7A5C2E4F8061";
constexpr std::string_view kAliceClientKey = "7A1F9C3E5B0D2846E1C7A93F5D0B28E64C1A7F3D9E5B0826C4E1A7F3D9B5062E";
constexpr std::string_view kAliceSaltAndServerKey =
    "C2E85A1F7D3B09E64A8C1F5D3E7B2A09"
    "6D4F1C8E3A5B7D2F0E9C6A4B8D1F3E57"
    "1E6C9A3F5D8B2E7C0A4F6D9B1C3E8A52"
    "9F3D7B1E5C0A8D6F2B4E9C1A7D3F5B80";
constexpr std::string_view kAliceClientProof = "4E9A2C7F1D5B3E8A0C6F9D2B7E4A1C5F3D8B6E09";
constexpr std::string_view kAliceServerProof = "B3D6F9A2C5E8B1D4F7A0C3E6B9D2F5A8C1E4B7D0";
constexpr std::string_view kErinPasswordHash = "E1B4C7DA0D3F6295C8EB1E4A7D0C3F62958BBE1A";

// Built when a session is written, not at start-up, where an exception
// could not be caught.
Bytes aliceAuthCheck() {
  return authCheck({0x7C3E9A21,
                    0x011C0001,
                    0x6F4B9D27,
                    {{26, 0x0E, 0x00A7C4D2, kRocKeyHash}, {26, 0x12, 0x003B9E15, kTftKeyHash}},
                    "war3.exe 03/18/17 20:03:55 471040",
                    "alice"});
}
Bytes erinAuthCheck() {
  return authCheck({0x2A91F3C4,
                    0x01000E01,
                    0x9C4E7B12,
                    {{16, 0x06, 0x00C1F6A3, kD2KeyHash}},
                    "Game.exe 10/18/11 20:48:14 65536",
                    "erin"});
}

Bytes longTalk() {
  return chatEvent(ChatEvent::Talk, kNoFlags, 112, "bob",
                   "did anyone catch the patch notes? they finally fixed the ladder queue timing, "
                   "changed the map pool for 2v2 and there is a new tournament every saturday at "
                   "18:00 server time. sign-ups open friday.");
}

std::vector<Step> aliceLogsOn() {
  return {
      open(0us, kAlice),
      alice(180us, protocolByte()),
      alice(95us, clientAuthInfo(kAliceAuthInfo)),
      toAlice(41ms, ping(0x5D1E88A3) + authChallenge(kAliceChallenge)),
      aliceAcks(40us),
      alice(1200us, ping(0x5D1E88A3)),
      // The two keys take the client a moment; its stack then sends the
      // message in two segments, the second right behind the first.
      alice(186ms, head(aliceAuthCheck(), 70)),
      alice(25us, tail(aliceAuthCheck(), 70)),
      toAlice(52ms, authCheckResult(0, "")),
      alice(1300us, accountLogon(kAliceClientKey, "alice")),
      toAlice(45ms, accountLogonResult(0, kAliceSaltAndServerKey)),
      alice(9ms, accountLogonProof(kAliceClientProof)),
      toAlice(44ms, accountLogonProofResult(0, kAliceServerProof)),
  };
}

std::vector<Step> aliceEntersChat() {
  return {
      alice(3ms, enterChat("alice", "") + channelListRequest("PX3W") + joinChannel(kFirstJoin, "Town Square")),
      toAlice(40ms, enterChatReply("alice", "PX3W 3H3W 14 SLNV", "alice") +
                        channelList({"Town Square", "Chat Lounge", "Clan Recruitment", "Tech Support", "Public Chat 1",
                                     "Frozen Throne USA-1"})),
      toAlice(400us, chatEvent(ChatEvent::Channel, kNoFlags, 0, "alice", "Town Square")),
      toAlice(110us, chatEvent(ChatEvent::ShowUser, kNoFlags, 38, "alice", "PX3W 3H3W 14 SLNV") +
                         chatEvent(ChatEvent::ShowUser, kNoFlags, 112, "bob", "PX3W 2O3W 6") +
                         chatEvent(ChatEvent::ShowUser, kOperator, 46, "carol", "RATS 0 0 4 0 0 0 0 0 RATS") +
                         chatEvent(ChatEvent::ShowUser, kNoUdp, 203, "dave", "VD2D")),
      aliceAcks(40us),
  };
}

std::vector<Step> aliceChats() {
  return {
      alice(4200ms, chatCommand("hi everyone")),
      toAlice(3100ms, chatEvent(ChatEvent::Talk, kNoFlags, 112, "bob", "hey alice!")),
      toAlice(1700ms, chatEvent(ChatEvent::Talk, kOperator, 46, "carol", "welcome back")),
      aliceAcks(200ms),
      alice(6400ms, chatCommand("/w dave are you around for a game later?")),
      toAlice(41ms, chatEvent(ChatEvent::WhisperSent, kNoUdp, 203, "dave", "are you around for a game later?")),
      toAlice(9800ms, chatEvent(ChatEvent::Whisper, kNoUdp, 203, "dave", "sure, after 8")),
      aliceAcks(200ms),
  };
}

// erin connects while alice chats; the server keeps alice alive meanwhile.
std::vector<Step> erinJoins() {
  return {
      open(2300ms, kErin),
      // The protocol byte and the first message share erin's first segment.
      erin(160us, protocolByte() + clientAuthInfo(kErinAuthInfo)),
      toAlice(870ms, ping(0x1F07C6B9)),
      alice(90us, ping(0x1F07C6B9)),
      toErin(700us, ping(0x7B2D4E10) + authChallenge(kErinChallenge)),
      erinAcks(40us),
      erin(950us, ping(0x7B2D4E10)),
      alice(1600ms, chatCommand("/me waves")),
      erin(90ms, erinAuthCheck()),
      toAlice(20ms, chatEvent(ChatEvent::Emote, kNoFlags, 38, "alice", "waves")),
      toErin(48ms, authCheckResult(0, "")),
      erin(1400us, logonResponse2(0x2A91F3C4, 0x3B81E5F0, kErinPasswordHash, "erin")),
      toErin(66ms, logonResult2(0)),
      erin(2ms, enterChat("erin", "")),
      toErin(65ms, enterChatReply("erin", "VD2D", "erin")),
      erin(1800us, joinChannel(kNormalJoin, "Town Square")),
      toErin(65ms, chatEvent(ChatEvent::Channel, kNoFlags, 0, "erin", "Town Square") +
                       chatEvent(ChatEvent::ShowUser, kNoFlags, 38, "alice", "PX3W 3H3W 14 SLNV") +
                       chatEvent(ChatEvent::ShowUser, kNoFlags, 112, "bob", "PX3W 2O3W 6") +
                       chatEvent(ChatEvent::ShowUser, kOperator, 46, "carol", "RATS 0 0 4 0 0 0 0 0 RATS") +
                       chatEvent(ChatEvent::ShowUser, kNoUdp, 203, "dave", "VD2D") +
                       chatEvent(ChatEvent::ShowUser, kNoFlags, 64, "erin", "VD2D")),
      toAlice(300us, chatEvent(ChatEvent::Join, kNoFlags, 64, "erin", "VD2D")),
      erinAcks(40us),
  };
}

std::vector<Step> bothChatAndLeave() {
  return {
      // A long line arrives in two segments; the second also carries the
      // next event.
      toAlice(5200ms, head(longTalk(), 90)),
      toAlice(30us, tail(longTalk(), 90) + chatEvent(ChatEvent::Emote, kOperator, 46, "carol", "laughs")),
      aliceAcks(40us),
      erin(3900ms, chatCommand("hi all")),
      serverAcksErin(64ms),
      toAlice(8ms, chatEvent(ChatEvent::Talk, kNoFlags, 64, "erin", "hi all")),
      toAlice(2600ms,
              chatEvent(ChatEvent::Info, kNoFlags, 0, "", "The server will restart for maintenance at 12:00 UTC.")),
      toAlice(1900ms, chatEvent(ChatEvent::Leave, kNoUdp, 203, "dave", "")),
      aliceAcks(200ms),
      alice(5100ms, chatCommand("bye all, see you tonight")),
      alice(1200ms, leaveChat()),
      close(300ms, kAlice),
      close(4700ms, kErin),
  };
}

}  // namespace

bool writeSampleSession(CaptureWriter& writer) {
  SessionPlayer player(writer, sessionStart(), {kAliceConnection, kErinConnection});
  for (const auto& part : {aliceLogsOn(), aliceEntersChat(), aliceChats(), erinJoins(), bothChatAndLeave()}) {
    for (const Step& step : part) {
      if (!player.play(step)) return false;
    }
  }
  return player.finish();
}

}  // namespace vestrel::wire
