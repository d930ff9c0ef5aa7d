// Building wire bytes piece by piece, so a message reads like the protocol:
// msg(0x0E, cstr("/whoami")) is a whole SID_CHATCOMMAND message. The capture
// generator and the tests share these.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vestrel::wire {

// A class of its own (not an alias) so operator+ is found wherever it is used.
class Bytes : public std::vector<uint8_t> {
 public:
  using std::vector<uint8_t>::vector;
};

inline Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

inline Bytes byte(uint8_t value) { return Bytes{value}; }

inline Bytes word(uint16_t value) { return Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}; }

// Each built in one piece: the generator builds millions of them.
inline Bytes dword(uint32_t value) {
  return Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
               static_cast<uint8_t>(value >> 24)};
}

// Network (big-endian) order, as link, IP and TCP headers carry numbers.
inline Bytes netWord(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

inline Bytes netDword(uint32_t value) {
  return Bytes{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
               static_cast<uint8_t>(value)};
}

// A text and its terminating NUL.
inline Bytes cstr(std::string_view text) {
  Bytes bytes(text.size() + 1, 0);
  std::copy(text.begin(), text.end(), bytes.begin());
  return bytes;
}

// Text without a terminator.
inline Bytes raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Bytes from hex pairs ("9C01..."), for hashes and keys.
inline Bytes hexBytes(std::string_view hex) {
  const auto nibble = [](char digit) {
    if (digit >= 'a') return static_cast<uint8_t>(digit - 'a' + 10);
    if (digit >= 'A') return static_cast<uint8_t>(digit - 'A' + 10);
    return static_cast<uint8_t>(digit - '0');
  };
  Bytes bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<uint8_t>(nibble(hex[at]) << 4 | nibble(hex[at + 1])));
  }
  return bytes;
}

inline Bytes fill(size_t count, uint8_t value) { return Bytes(count, value); }

// A header with any marker and length, true or not.
inline Bytes header(uint8_t marker, uint8_t id, uint16_t length) {
  return Bytes{marker, id, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
}

// A whole message: marker, id, the length of everything, then the body.
inline Bytes msg(uint8_t id, const Bytes& body = {}) {
  const auto length = static_cast<uint16_t>(4 + body.size());
  Bytes message(4 + body.size());
  message[0] = 0xFF;
  message[1] = id;
  message[2] = static_cast<uint8_t>(length);
  message[3] = static_cast<uint8_t>(length >> 8);
  std::copy(body.begin(), body.end(), message.begin() + 4);
  return message;
}

// The first count bytes, and the bytes from position on.
inline Bytes slice(const Bytes& bytes, size_t from, size_t to) {
  const std::span<const uint8_t> part = std::span(bytes).subspan(from, to - from);
  return Bytes(part.begin(), part.end());
}
inline Bytes head(const Bytes& bytes, size_t count) { return slice(bytes, 0, count); }
inline Bytes tail(const Bytes& bytes, size_t position) { return slice(bytes, position, bytes.size()); }

}  // namespace vestrel::wire
