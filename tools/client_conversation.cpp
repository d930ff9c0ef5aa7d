#include "client_conversation.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "protocol_messages.h"

namespace vestrel::wire {

namespace {

// Client and server take turns through the logon: even steps are the
// client's.
constexpr size_t kLogonSteps = 8;
constexpr uint32_t kServerSharePercent = 60;

constexpr std::string_view kChannel = "Town Square";
constexpr std::string_view kStatstring = "PX3W 1R3W 3";
constexpr std::string_view kVersionFormula = "A=1054538081 B=741521288 C=797042342 4 A=A^S B=B-C C=C^A A=A+B";
constexpr std::string_view kKeyHash = "9C01E5A8D3F27B604E1C8A2D5F3B97E0C4A6D182";
constexpr std::string_view kPasswordHash = "2F7E1A9C4D0B6E3F8A5C1D7B9E2F4A6C0D8B3E51";

uint32_t pingOf(std::string_view user) { return 30 + static_cast<uint32_t>(user.size()) * 23; }

ClientAuthInfo authInfo(uint32_t clientNumber) {
  // Clients report the address they have behind their home router.
  const std::array<uint8_t, 4> homeAddress = {192, 168, 1, static_cast<uint8_t>(2 + clientNumber % 250)};
  return {"68XI", "PX3W", 0x1C, "SUne", homeAddress, 0, 0x409, 0x409, "USA", "United States"};
}

}  // namespace

ClientConversation::ClientConversation(uint32_t seed, size_t messagesEachWay, uint32_t clientNumber)
    : dice_(seed),
      left_{messagesEachWay, messagesEachWay},
      clientNumber_(clientNumber),
      user_("guest" + std::to_string(clientNumber)),
      clientToken_(dice_.roll(0xFFFFFFFF)),
      serverToken_(dice_.roll(0xFFFFFFFF)) {}

Burst ClientConversation::next() {
  while (!done()) {
    Burst burst;
    if (logonStep_ < kLogonSteps) {
      const size_t step = logonStep_++;
      burst.from = step % 2 == 0 ? Side::Client : Side::Server;
      takeOwed(burst);
      for (Bytes& message : logonStep(step)) take(burst, std::move(message));
    } else {
      const bool serverSpeaks =
          left(Side::Client) == 0 || (left(Side::Server) > 0 && dice_.chance(kServerSharePercent));
      burst.from = serverSpeaks ? Side::Server : Side::Client;
      takeOwed(burst);
      const size_t wanted = 1 + dice_.roll(serverSpeaks ? kMaxBurst : kMaxBurst - 1);
      while (burst.messages.size() < wanted && left(burst.from) > 0) take(burst, chatMessage(burst.from));
    }
    if (!burst.messages.empty()) return burst;
  }
  return {};
}

std::optional<Bytes> ClientConversation::another(Side from) {
  if (left(from) == 0) return std::nullopt;
  --left_[index(from)];
  return chatMessage(from);
}

// Answers owed go first, no more than a burst holds.
void ClientConversation::takeOwed(Burst& burst) {
  std::vector<Bytes>& owed = owed_[index(burst.from)];
  const size_t count = std::min(owed.size(), kMaxBurst);
  for (size_t at = 0; at < count; ++at) take(burst, std::move(owed[at]));
  owed.erase(owed.begin(), owed.begin() + static_cast<std::ptrdiff_t>(count));
}

void ClientConversation::take(Burst& burst, Bytes message) {
  if (left(burst.from) == 0) return;
  --left_[index(burst.from)];
  burst.messages.push_back(std::move(message));
}

// The logon with the older password hashing, then entering the chat.
std::vector<Bytes> ClientConversation::logonStep(size_t step) {
  switch (step) {
    case 0: return {clientAuthInfo(authInfo(clientNumber_))};
    case 1: {
      const uint32_t cookie = dice_.roll(0xFFFFFFFF);
      owed_[index(Side::Client)].push_back(ping(cookie));
      return {ping(cookie), authChallenge({0, serverToken_, dice_.roll(0xFFFFFFFF), 0x01D4C3A0B1E2F300,
                                           "ver-IX86-1.mpq", kVersionFormula})};
    }
    case 2:
      return {authCheck(
          {clientToken_, 0x011C0001, 0x6F4B9D27, {{26, 0x0E, dice_.roll(0xFFFFFF), kKeyHash}}, "war3.exe", user_})};
    case 3: return {authCheckResult(0, "")};
    case 4: return {logonResponse2(clientToken_, serverToken_, kPasswordHash, user_)};
    case 5: return {logonResult2(0)};
    case 6: return {enterChat(user_, ""), joinChannel(kFirstJoin, kChannel)};
    default:
      return {enterChatReply(user_, kStatstring, user_), chatEvent(ChatEvent::Channel, kNoFlags, 0, user_, kChannel),
              chatEvent(ChatEvent::ShowUser, kNoFlags, pingOf(user_), user_, kStatstring)};
  }
}

Bytes ClientConversation::chatMessage(Side from) { return from == Side::Client ? clientChat() : serverChat(); }

Bytes ClientConversation::clientChat() {
  const uint32_t kind = dice_.roll(10);
  if (kind == 8) {
    owed_[index(Side::Server)].push_back(channelList({"Town Square", "Chat Lounge", "Clan Recruitment"}));
    return channelListRequest("PX3W");
  }
  if (kind >= 6) return chatCommand(dice_.pick(kChatLines));
  return chatCommand(dice_.pick(kChatCommands));
}

Bytes ClientConversation::serverChat() {
  const uint32_t kind = dice_.roll(20);
  const std::string_view user = dice_.pick(kChatUsers);
  if (kind == 15 || kind == 16) {
    const uint32_t cookie = dice_.roll(0xFFFFFFFF);
    owed_[index(Side::Client)].push_back(ping(cookie));
    return ping(cookie);
  }
  if (kind == 9 || kind == 10) return chatEvent(ChatEvent::Emote, kNoFlags, pingOf(user), user, "laughs");
  if (kind == 11) return chatEvent(ChatEvent::Join, kNoFlags, pingOf(user), user, "PX3W");
  if (kind == 12) return chatEvent(ChatEvent::Leave, kNoFlags, pingOf(user), user, "");
  if (kind == 13) return chatEvent(ChatEvent::Whisper, kNoFlags, pingOf(user), user, dice_.pick(kChatLines));
  if (kind == 14) return chatEvent(ChatEvent::Info, kNoFlags, 0, "", "No one hears you.");
  return chatEvent(ChatEvent::Talk, kNoFlags, pingOf(user), user, dice_.pick(kChatLines));
}

}  // namespace vestrel::wire
