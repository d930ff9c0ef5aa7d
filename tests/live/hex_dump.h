// The log's view of a message, written out for the live cases to compare
// with: a heading with direction, id and length, the bytes sixteen to a line
// (offset, hex pairs, printable column), then an empty line.
#pragma once

#include <algorithm>
#include <string>

#include "bytes.h"
#include "loopback_chat.h"

namespace vestrel::live {

inline std::string hexDump(Side from, const Bytes& message) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto hexPair = [](unsigned value) { return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]}; };
  std::string dump = from == Side::Client ? "Sent" : "Rcvd";
  dump += " packet 0x" + hexPair(message.at(1)) + ", Length " + std::to_string(message.size()) + ":\n";
  for (size_t line = 0; line < message.size(); line += 16) {
    const size_t count = std::min<size_t>(16, message.size() - line);
    dump += hexPair(static_cast<unsigned>(line >> 8)) + hexPair(static_cast<unsigned>(line)) + " ";
    for (size_t i = 0; i < 16; ++i) dump += i < count ? hexPair(message[line + i]) + " " : "   ";
    for (size_t i = 0; i < count; ++i) {
      const uint8_t value = message[line + i];
      dump += value >= 0x20 ? static_cast<char>(value) : '.';
    }
    dump += "\n";
  }
  return dump + "\n";
}

}  // namespace vestrel::live
