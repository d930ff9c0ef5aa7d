// Messages of a typical logon and chat, with the bodies real clients and
// servers send, and the summary lines the program prints for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bytes.h"
#include "loopback_chat.h"

namespace vestrel::live {

// "Sent -> [0x25] SID_PING             -> " followed by the details that end
// the line; a message without a decoder ends it with the newline alone.
std::string summaryLine(Side from, uint8_t id, std::string_view name, std::string_view details = "\n");
inline std::string sentLine(uint8_t id, std::string_view name, std::string_view details = "\n") {
  return summaryLine(Side::Client, id, name, details);
}
inline std::string rcvdLine(uint8_t id, std::string_view name, std::string_view details = "\n") {
  return summaryLine(Side::Server, id, name, details);
}
std::string tooLongLine(Side from, uint8_t id, std::string_view name, unsigned length);

// The client's first message: protocol, platform, product, version, language,
// address, time zone, locale, and country.
inline Bytes clientAuthInfo() {
  return msg(0x50, dword(0) + dword(0x49583836) + dword(0x53455850) + dword(0xD3) + dword(0) + dword(0x0100007F) +
                       dword(0xFFFFFE20) + dword(0x409) + dword(0x409) + cstr("USA") + cstr("United States"));
}
// Codes in message order; the bias of -480 minutes printed unsigned.
inline constexpr std::string_view kClientAuthInfoDetails =
    "Protocol ID:\t 0\n"
    "\t\t\t\t       Platform ID:\t 68XI\n"
    "\t\t\t\t       Program ID:\t PXES\n"
    "\t\t\t\t       Version byte:\t 0xD3\n"
    "\t\t\t\t       Product Langauge: 0\n"
    "\t\t\t\t       Local IP:\t 127.0.0.1\n"
    "\t\t\t\t       Timezone Bias:\t 4294966816\n"
    "\t\t\t\t       Locale ID:\t 1033\n"
    "\t\t\t\t       Langauge ID:\t 1033\n"
    "\t\t\t\t       Country Abbr.:\t USA\n"
    "\t\t\t\t       Country Name:\t United States\n";

// The server's answer: logon type, token, UDP value, file time, archive and
// version formula.
inline Bytes serverAuthInfo() {
  return msg(0x50, dword(0) + dword(0x1234ABCD) + dword(0x0BADF00D) + dword(0x7E3C4A00) + dword(0x01C5E1A2) +
                       cstr("ver-IX86-1.mpq") + cstr("A=1 B=2 C=3 4 A=A+S B=B-C C=C^A A=A^B"));
}
// The file time 0x01C5E1A27E3C4A00 is 2005-11-05 00:47:26.8759 UTC.
inline constexpr std::string_view kServerAuthInfoDetails =
    "Logon Type:\t 0 (Broken SHA-1)\n"
    "\t\t\t\t       Server Token:\t 0x1234ABCD\n"
    "\t\t\t\t       UDP Value:\t 0xBADF00D\n"
    "\t\t\t\t       MPQ Filetime:\t 5/11/2005 0:47:26\n"
    "\t\t\t\t       Verfile name:\t ver-IX86-1.mpq\n"
    "\t\t\t\t       Valuestring:\t A=1 B=2 C=3 4 A=A+S B=B-C C=C^A A=A^B\n";

inline Bytes ping(uint32_t cookie) { return msg(0x25, dword(cookie)); }
// The same in both directions: "Ping value: 0x" and the cookie in upper-case hex.
std::string pingDetails(uint32_t cookie);

inline Bytes clientAuthCheck() {
  return msg(0x51, dword(0x5EED) + dword(0x010E0001) + dword(0xCAFEBABE) + dword(0) + dword(0) +
                       cstr("game.exe 01/01/20 00:00:00 1234") + cstr("alice"));
}
// No keys: the file information follows the spawn field.
inline constexpr std::string_view kClientAuthCheckDetails =
    "Client Token:\t 0x5EED\n"
    "\t\t\t\t       EXE Version:\t 0x10E0001\n"
    "\t\t\t\t       EXE Hash:\t 0xCAFEBABE\n"
    "\t\t\t\t       Number of keys:\t 0\n"
    "\t\t\t\t       Using Spawn:\t 0\n"
    "\t\t\t\t       EXE Info:\t game.exe 01/01/20 00:00:00 1234\n"
    "\t\t\t\t       Key Owner:\t alice\n";

inline Bytes serverAuthCheck() { return msg(0x51, dword(0) + cstr("")); }
inline constexpr std::string_view kServerAuthCheckDetails = "Result: 0x0 (Passed), Extra Info:  <none>\n";

inline Bytes enterChat() { return msg(0x0A, cstr("alice") + cstr("")); }
inline constexpr std::string_view kEnterChatDetails = "Username: alice, Statstring: \n";

inline Bytes joinChannel(std::string_view channel) { return msg(0x0C, dword(2) + cstr(channel)); }
inline std::string joinChannelDetails(std::string_view channel) {
  return "Flags: 0x02, Channel Name: " + std::string(channel) + "\n";
}

inline Bytes chatCommand(std::string_view text) { return msg(0x0E, cstr(text)); }

// An event about a user: event id, flags, ping, three unused dwords, name, text.
inline Bytes chatEvent(uint32_t event, std::string_view user, std::string_view text) {
  return msg(0x0F, dword(event) + dword(0) + dword(32) + dword(0) + dword(0) + dword(0) + cstr(user) + cstr(text));
}
// Its details, given the event's name ("EID_TALK, ") and the text as printed.
inline std::string chatEventDetails(std::string_view event, std::string_view user, std::string_view text) {
  return std::string(event) + "Flags: 0x00, Ping: 32, User: " + std::string(user) + ", Text: " + std::string(text) +
         "\n";
}

// A header announcing length bytes, then a body made of whole pings, so any
// byte of it that was not passed over would show as an extra line.
Bytes oversizeMessage(uint8_t id, uint16_t length);

}  // namespace vestrel::live
