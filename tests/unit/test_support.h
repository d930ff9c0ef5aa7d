// Builders for test input: messages read like the protocol's field lists,
// frames like the headers they stand for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "output/console.h"

namespace vestrel::test {

struct FrameShape {
  uint8_t protocol = 6;        // 6 TCP, 17 UDP
  uint8_t ipHeaderWords = 5;   // 5 = no options
  uint8_t tcpHeaderWords = 5;  // 5 = no options
  int totalLengthAdjust = 0;   // added to the true IP total length
  bool overrideTotal = false;  // use totalLength as it stands
  uint16_t totalLength = 0;
  uint16_t fragment = 0;  // flags and fragment offset
  // Unset: each frame of a port pair follows on from the one made before,
  // as a real sender's segments do.
  std::optional<uint32_t> sequence;
  uint8_t flags = 0;  // SYN, FIN, RST, ACK bits
  uint32_t acknowledgement = 0;
  uint16_t window = 0xFFFF;
};

inline constexpr size_t kEthernetHeaderBytes = 14;

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

}  // namespace vestrel::test
