// Builders for test input: messages read like the protocol's field lists,
// frames like the headers they stand for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "stream/console.h"

namespace vestrel {
namespace test {
using Bytes = std::vector<uint8_t>;
}

// Joins byte runs. Declared in vestrel so test code in any nested namespace
// finds it by ordinary lookup.
inline test::Bytes operator+(test::Bytes left, const test::Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

namespace test {

inline Bytes dword(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

inline Bytes cstr(std::string_view text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

inline Bytes raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A whole message: marker, id, length (header included), body.
inline Bytes msg(uint8_t id, const Bytes& body = {}) {
  const size_t length = body.size() + 4;
  return Bytes{0xFF, id, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)} + body;
}

// A header announcing a length without the body behind it.
inline Bytes header(uint8_t id, uint16_t length, uint8_t marker = 0xFF) {
  return {marker, id, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
}

struct FrameShape {
  uint8_t protocol = 6;          // 6 TCP, 17 UDP
  uint8_t ipHeaderWords = 5;     // 5 = no options
  uint8_t tcpHeaderWords = 5;    // 5 = no options
  int totalLengthAdjust = 0;     // added to the true IP total length
  bool overrideTotal = false;    // use totalLength as it stands
  uint16_t totalLength = 0;
};

// An Ethernet II frame holding IPv4 and a TCP segment with this payload.
Bytes tcpFrame(uint16_t sourcePort, uint16_t destinationPort, const Bytes& payload, FrameShape shape = {});

// Captures everything printed on the console while it lives.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // All text printed so far.
  std::string text();

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_ = nullptr;
};

}  // namespace test
}  // namespace vestrel
