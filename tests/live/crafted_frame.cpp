#include "crafted_frame.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/deadline.h"

namespace vestrel::live {

namespace {

constexpr size_t kIpHeaderBytes = 20;
constexpr size_t kTcpHeaderBytes = 20;
constexpr size_t kUdpHeaderBytes = 8;
constexpr Millis kReturnTimeout{2000};
constexpr int kMaxFramesWatched = 10000;

// Network byte order, unlike the protocol's own little-endian fields.
Bytes be16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }
Bytes be32(uint32_t value) { return be16(static_cast<uint16_t>(value >> 16)) + be16(static_cast<uint16_t>(value)); }

uint16_t ipChecksum(const Bytes& header) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < header.size(); i += 2) sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

size_t transportHeaderBytes(const CraftedFrame& frame) {
  return frame.ipProtocol == kProtocolTcp ? kTcpHeaderBytes + frame.tcpOptions.size() : kUdpHeaderBytes;
}

Bytes tcpHeader(const CraftedFrame& frame) {
  const size_t words = frame.tcpHeaderWords.value_or((kTcpHeaderBytes + frame.tcpOptions.size()) / 4);
  constexpr uint8_t kPushAck = 0x18;
  return be16(frame.sourcePort) + be16(frame.destinationPort) + be32(1000) + be32(2000) +
         byte(static_cast<uint8_t>(words << 4)) + byte(kPushAck) + be16(65535) + be16(0) + be16(0) + frame.tcpOptions;
}

Bytes udpHeader(const CraftedFrame& frame) {
  return be16(frame.sourcePort) + be16(frame.destinationPort) +
         be16(static_cast<uint16_t>(kUdpHeaderBytes + frame.payload.size())) + be16(0);
}

Bytes ipHeader(const CraftedFrame& frame) {
  const size_t words = frame.ipHeaderWords.value_or((kIpHeaderBytes + frame.ipOptions.size()) / 4);
  const uint16_t totalLength = frame.ipTotalLength.value_or(static_cast<uint16_t>(trueIpTotalLength(frame)));
  constexpr uint32_t kLoopback = 0x7F000001;
  Bytes header = byte(static_cast<uint8_t>(0x40 | (words & 0x0F))) + byte(0) + be16(totalLength) + be16(1) +
                 be16(0x4000) + byte(64) + byte(frame.ipProtocol) + be16(0) + be32(kLoopback) + be32(kLoopback) +
                 frame.ipOptions;
  const uint16_t checksum = ipChecksum(header);
  header[10] = static_cast<uint8_t>(checksum >> 8);
  header[11] = static_cast<uint8_t>(checksum);
  return header;
}

}  // namespace

size_t trueIpTotalLength(const CraftedFrame& frame) {
  return kIpHeaderBytes + frame.ipOptions.size() + transportHeaderBytes(frame) + frame.payload.size();
}

Bytes buildFrame(const CraftedFrame& frame) {
  Bytes ethernet = fill(12, 0);  // lo's address is all zeros
  for (const uint16_t id : frame.vlanIds) ethernet = ethernet + be16(ETH_P_8021Q) + be16(id);
  ethernet = ethernet + be16(ETH_P_IP);
  const Bytes transport = frame.ipProtocol == kProtocolTcp ? tcpHeader(frame) : udpHeader(frame);
  Bytes whole = ethernet + ipHeader(frame) + transport + frame.payload + frame.trailer;
  if (frame.frameBytes) whole.resize(std::min(*frame.frameBytes, whole.size()));
  return whole;
}

bool FrameInjector::open() {
  loopbackIndex_ = static_cast<int>(if_nametoindex("lo"));
  sender_ = Socket(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
  watcher_ = Socket(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)));
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_ALL);
  address.sll_ifindex = loopbackIndex_;
  const bool ready = loopbackIndex_ > 0 && sender_.valid() && watcher_.valid() &&
                     bind(watcher_.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (!ready) ADD_FAILURE() << "cannot open packet sockets on lo: " << std::strerror(errno);
  return ready;
}

bool FrameInjector::inject(const Bytes& frame) {
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_IP);
  address.sll_ifindex = loopbackIndex_;
  address.sll_halen = ETH_ALEN;
  const ssize_t sent =
      sendto(sender_.fd(), frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent != static_cast<ssize_t>(frame.size())) {
    ADD_FAILURE() << "cannot put a " << frame.size() << "-byte frame on lo: " << std::strerror(errno);
    return false;
  }
  return awaitReturn(frame);
}

// The frame as a packet socket reads it back: the kernel takes a frame's
// outer VLAN tag into its own record of the frame as it comes in.
Bytes asReceived(const Bytes& frame) {
  constexpr size_t kTypeOffset = 12;
  constexpr size_t kTagBytes = 4;
  const bool tagged = frame.size() >= kTypeOffset + kTagBytes && frame[kTypeOffset] == (ETH_P_8021Q >> 8) &&
                      frame[kTypeOffset + 1] == (ETH_P_8021Q & 0xFF);
  if (!tagged) return frame;
  Bytes untagged(frame.begin(), frame.begin() + kTypeOffset);
  untagged.insert(untagged.end(), frame.begin() + kTypeOffset + kTagBytes, frame.end());
  return untagged;
}

// lo hands every frame it sends back in as received; the program's capture
// sees it at that same moment.
bool FrameInjector::awaitReturn(const Bytes& sentFrame) {
  const Bytes frame = asReceived(sentFrame);
  const Deadline deadline(kReturnTimeout);
  // Room for the largest datagram and its Ethernet header, and more.
  Bytes seen(1 << 17);
  for (int watched = 0; watched < kMaxFramesWatched; ++watched) {
    pollfd ready{watcher_.fd(), POLLIN, 0};
    if (poll(&ready, 1, deadline.remainingMs()) <= 0) break;
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got = recvfrom(watcher_.fd(), seen.data(), seen.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    const bool same = got == static_cast<ssize_t>(frame.size()) && std::equal(frame.begin(), frame.end(), seen.begin());
    if (same && from.sll_pkttype == PACKET_HOST) return true;
  }
  ADD_FAILURE() << "the crafted frame never came back in on lo";
  return false;
}

}  // namespace vestrel::live
