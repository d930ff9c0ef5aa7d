#include "protocol_messages.h"

namespace vestrel::wire {

namespace {

constexpr uint8_t kEnterChat = 0x0A;
constexpr uint8_t kGetChannelList = 0x0B;
constexpr uint8_t kJoinChannel = 0x0C;
constexpr uint8_t kChatCommand = 0x0E;
constexpr uint8_t kChatEvent = 0x0F;
constexpr uint8_t kLeaveChat = 0x10;
constexpr uint8_t kPing = 0x25;
constexpr uint8_t kLogonResponse2 = 0x3A;
constexpr uint8_t kAuthInfo = 0x50;
constexpr uint8_t kAuthCheck = 0x51;
constexpr uint8_t kAccountLogon = 0x53;
constexpr uint8_t kAccountLogonProof = 0x54;

constexpr uint8_t kProtocolChat = 0x01;
constexpr uint32_t kProtocolId = 0;

// What servers leave in the three chat event fields no longer in use.
constexpr uint32_t kDefunctAddress = 0;
constexpr uint32_t kDefunctField = 0xBAADF00D;

Bytes keyEntry(const CdKey& key) {
  constexpr uint32_t kUnknownZero = 0;
  return dword(key.length) + dword(key.product) + dword(key.publicValue) + dword(kUnknownZero) + hexBytes(key.hash);
}

}  // namespace

Bytes protocolByte() { return byte(kProtocolChat); }

Bytes clientAuthInfo(const ClientAuthInfo& info) {
  return msg(kAuthInfo, dword(kProtocolId) + raw(info.platform) + raw(info.product) + dword(info.versionByte) +
                            raw(info.productLanguage) + Bytes(info.localAddress.begin(), info.localAddress.end()) +
                            dword(static_cast<uint32_t>(info.timezoneBiasMinutes)) + dword(info.localeId) +
                            dword(info.languageId) + cstr(info.countryAbbreviation) + cstr(info.countryName));
}

Bytes authChallenge(const AuthChallenge& challenge) {
  return msg(kAuthInfo, dword(challenge.logonType) + dword(challenge.serverToken) + dword(challenge.udpValue) +
                            dword(static_cast<uint32_t>(challenge.archiveFileTime)) +
                            dword(static_cast<uint32_t>(challenge.archiveFileTime >> 32)) +
                            cstr(challenge.archiveName) + cstr(challenge.versionFormula));
}

Bytes ping(uint32_t cookie) { return msg(kPing, dword(cookie)); }

Bytes authCheck(const AuthCheck& check) {
  constexpr uint32_t kNoSpawn = 0;
  Bytes keys;
  for (const CdKey& key : check.keys) keys = keys + keyEntry(key);
  return msg(kAuthCheck, dword(check.clientToken) + dword(check.exeVersion) + dword(check.exeHash) +
                             dword(static_cast<uint32_t>(check.keys.size())) + dword(kNoSpawn) + keys +
                             cstr(check.exeInfo) + cstr(check.keyOwner));
}

Bytes authCheckResult(uint32_t result, std::string_view info) { return msg(kAuthCheck, dword(result) + cstr(info)); }

Bytes accountLogon(std::string_view clientKey, std::string_view account) {
  return msg(kAccountLogon, hexBytes(clientKey) + cstr(account));
}

Bytes accountLogonResult(uint32_t status, std::string_view saltAndServerKey) {
  return msg(kAccountLogon, dword(status) + hexBytes(saltAndServerKey));
}

Bytes accountLogonProof(std::string_view clientProof) { return msg(kAccountLogonProof, hexBytes(clientProof)); }

// Servers end the proof with an additional text, empty when all is well.
Bytes accountLogonProofResult(uint32_t status, std::string_view serverProof) {
  return msg(kAccountLogonProof, dword(status) + hexBytes(serverProof) + cstr(""));
}

Bytes logonResponse2(uint32_t clientToken, uint32_t serverToken, std::string_view passwordHash,
                     std::string_view account) {
  return msg(kLogonResponse2, dword(clientToken) + dword(serverToken) + hexBytes(passwordHash) + cstr(account));
}

Bytes logonResult2(uint32_t result) { return msg(kLogonResponse2, dword(result)); }

Bytes enterChat(std::string_view user, std::string_view statstring) {
  return msg(kEnterChat, cstr(user) + cstr(statstring));
}

Bytes enterChatReply(std::string_view uniqueName, std::string_view statstring, std::string_view account) {
  return msg(kEnterChat, cstr(uniqueName) + cstr(statstring) + cstr(account));
}

Bytes channelListRequest(std::string_view product) { return msg(kGetChannelList, raw(product)); }

// An empty name ends the list.
Bytes channelList(std::initializer_list<std::string_view> channels) {
  Bytes names;
  for (std::string_view channel : channels) names = names + cstr(channel);
  return msg(kGetChannelList, names + cstr(""));
}

Bytes joinChannel(uint32_t flags, std::string_view channel) { return msg(kJoinChannel, dword(flags) + cstr(channel)); }

Bytes chatCommand(std::string_view text) { return msg(kChatCommand, cstr(text)); }

Bytes leaveChat() { return msg(kLeaveChat); }

Bytes chatEvent(ChatEvent event, uint32_t flags, uint32_t ping, std::string_view user, std::string_view text) {
  return msg(kChatEvent, dword(static_cast<uint32_t>(event)) + dword(flags) + dword(ping) + dword(kDefunctAddress) +
                             dword(kDefunctField) + dword(kDefunctField) + cstr(user) + cstr(text));
}

}  // namespace vestrel::wire
