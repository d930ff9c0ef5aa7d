// Hand-made Ethernet II + IPv4 + TCP (or UDP) frames, put on lo through a
// packet socket, for the frames real sockets never send: lying lengths,
// options, cut-off headers. Addresses are always 127.0.0.1 on both ends.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bytes.h"
#include "loopback_chat.h"

namespace vestrel::live {

inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;
inline constexpr size_t kEthernetBytes = 14;

struct CraftedFrame {
  uint8_t ipProtocol = kProtocolTcp;
  // No real socket uses this port, so no connection is disturbed.
  uint16_t sourcePort = 40000;
  uint16_t destinationPort = kChatPort;
  Bytes ipOptions;   // whole 32-bit words
  Bytes tcpOptions;  // whole 32-bit words
  Bytes payload;
  Bytes trailer;  // after the IP datagram, like Ethernet padding
  // Overrides for the header fields; unset means the true value.
  std::optional<uint8_t> ipHeaderWords;
  std::optional<uint8_t> tcpHeaderWords;
  std::optional<uint16_t> ipTotalLength;
  // Cuts the frame to this many bytes, as a short capture would be.
  std::optional<size_t> frameBytes;
  // 802.1Q tags between the addresses and the IP type, outermost first.
  std::vector<uint16_t> vlanIds;
};

// The IP total length the frame's parts really add up to.
size_t trueIpTotalLength(const CraftedFrame& frame);

// The IP header checksum is right so the kernel looks at the segment, and
// the TCP checksum is left 0 so it then drops it without answering.
Bytes buildFrame(const CraftedFrame& frame);

// Puts frames on lo and waits until each has come back in as a received
// frame, so it reaches the program's capture before any traffic sent after.
class FrameInjector {
 public:
  // Failures are reported as test failures.
  bool open();
  bool inject(const Bytes& frame);

 private:
  bool awaitReturn(const Bytes& frame);

  Socket sender_;
  Socket watcher_;
  int loopbackIndex_ = 0;
};

}  // namespace vestrel::live
