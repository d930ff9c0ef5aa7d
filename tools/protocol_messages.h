// Whole chat protocol messages, built from their fields in wire order, for
// the sessions the generator writes.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "wire_bytes.h"

namespace vestrel::wire {

// Sent alone by a client right after connecting; it names the protocol and
// is no message.
Bytes protocolByte();

struct ClientAuthInfo {
  std::string_view platform;  // four-character codes as the client sends them: "68XI"
  std::string_view product;   // "PX3W"
  uint32_t versionByte;
  std::string_view productLanguage;  // "SUne"
  std::array<uint8_t, 4> localAddress;
  int32_t timezoneBiasMinutes;  // UTC minus local time
  uint32_t localeId;
  uint32_t languageId;
  std::string_view countryAbbreviation;
  std::string_view countryName;
};
Bytes clientAuthInfo(const ClientAuthInfo& info);

struct AuthChallenge {
  uint32_t logonType;  // 0 the old password hashing, 2 the account logon
  uint32_t serverToken;
  uint32_t udpValue;
  uint64_t archiveFileTime;  // 100 ns since 1601
  std::string_view archiveName;
  std::string_view versionFormula;
};
Bytes authChallenge(const AuthChallenge& challenge);

Bytes ping(uint32_t cookie);

struct CdKey {
  uint32_t length;
  uint32_t product;
  uint32_t publicValue;
  std::string_view hash;  // 20 bytes in hex
};
struct AuthCheck {
  uint32_t clientToken;
  uint32_t exeVersion;
  uint32_t exeHash;
  std::initializer_list<CdKey> keys;
  std::string_view exeInfo;
  std::string_view keyOwner;
};
Bytes authCheck(const AuthCheck& check);
Bytes authCheckResult(uint32_t result, std::string_view info);

Bytes accountLogon(std::string_view clientKey, std::string_view account);
Bytes accountLogonResult(uint32_t status, std::string_view saltAndServerKey);
Bytes accountLogonProof(std::string_view clientProof);
Bytes accountLogonProofResult(uint32_t status, std::string_view serverProof);
Bytes logonResponse2(uint32_t clientToken, uint32_t serverToken, std::string_view passwordHash,
                     std::string_view account);
Bytes logonResult2(uint32_t result);

Bytes enterChat(std::string_view user, std::string_view statstring);
Bytes enterChatReply(std::string_view uniqueName, std::string_view statstring, std::string_view account);
Bytes channelListRequest(std::string_view product);
Bytes channelList(std::initializer_list<std::string_view> channels);
inline constexpr uint32_t kFirstJoin = 0x01;
inline constexpr uint32_t kNormalJoin = 0x00;
Bytes joinChannel(uint32_t flags, std::string_view channel);
Bytes chatCommand(std::string_view text);
Bytes leaveChat();

enum class ChatEvent : uint32_t {
  ShowUser = 1,
  Join = 2,
  Leave = 3,
  Whisper = 4,
  Talk = 5,
  Channel = 7,
  WhisperSent = 10,
  Info = 18,
  Emote = 23,
};
// User flags as the server reports them.
inline constexpr uint32_t kNoFlags = 0x00;
inline constexpr uint32_t kOperator = 0x02;
inline constexpr uint32_t kNoUdp = 0x10;
Bytes chatEvent(ChatEvent event, uint32_t flags, uint32_t ping, std::string_view user, std::string_view text);

}  // namespace vestrel::wire
