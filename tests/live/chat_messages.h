// Messages of a typical logon and chat, with the bodies real clients and
// servers send, and the summary lines the program prints for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bytes.h"
#include "loopback_chat.h"

namespace vestrel::live {

// "Sent -> [0x25] SID_PING             -> " and the newline that ends a line
// with no details.
std::string summaryLine(Side from, uint8_t id, std::string_view name);
inline std::string sentLine(uint8_t id, std::string_view name) { return summaryLine(Side::Client, id, name); }
inline std::string rcvdLine(uint8_t id, std::string_view name) { return summaryLine(Side::Server, id, name); }
std::string tooLongLine(Side from, uint8_t id, std::string_view name, unsigned length);

// The client's first message: protocol, platform, product, version, language,
// address, time zone, locale, and country.
inline Bytes clientAuthInfo() {
  return msg(0x50, dword(0) + dword(0x49583836) + dword(0x53455850) + dword(0xD3) + dword(0) +
                       dword(0x0100007F) + dword(0xFFFFFE20) + dword(0x409) + dword(0x409) + cstr("USA") +
                       cstr("United States"));
}

// The server's answer: logon type, token, UDP value, file time, archive and
// version formula.
inline Bytes serverAuthInfo() {
  return msg(0x50, dword(0) + dword(0x1234ABCD) + dword(0x0BADF00D) + dword(0x7E3C4A00) + dword(0x01C5E1A2) +
                       cstr("ver-IX86-1.mpq") + cstr("A=1 B=2 C=3 4 A=A+S B=B-C C=C^A A=A^B"));
}

inline Bytes ping(uint32_t cookie) { return msg(0x25, dword(cookie)); }

inline Bytes clientAuthCheck() {
  return msg(0x51, dword(0x5EED) + dword(0x010E0001) + dword(0xCAFEBABE) + dword(0) + dword(0) +
                       cstr("game.exe 01/01/20 00:00:00 1234") + cstr("alice"));
}

inline Bytes serverAuthCheck() { return msg(0x51, dword(0) + cstr("")); }

inline Bytes enterChat() { return msg(0x0A, cstr("alice") + cstr("")); }

inline Bytes joinChannel(std::string_view channel) { return msg(0x0C, dword(2) + cstr(channel)); }

inline Bytes chatCommand(std::string_view text) { return msg(0x0E, cstr(text)); }

// An event about a user: event id, flags, ping, three unused dwords, name, text.
inline Bytes chatEvent(uint32_t event, std::string_view user, std::string_view text) {
  return msg(0x0F,
             dword(event) + dword(0) + dword(32) + dword(0) + dword(0) + dword(0) + cstr(user) + cstr(text));
}

// A header announcing length bytes, then a body made of whole pings, so any
// byte of it that was not passed over would show as an extra line.
Bytes oversizeMessage(uint8_t id, uint16_t length);

}  // namespace vestrel::live
