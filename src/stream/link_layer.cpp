#include "stream/link_layer.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <utility>

namespace vestrel {

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
// 802.1Q, 802.1ad, and the 0x9100 that switches used for stacked tags
// before 802.1ad settled it.
constexpr std::array<uint16_t, 3> kVlanEtherTypes{0x8100, 0x88A8, 0x9100};
constexpr size_t kEthernetTypeOffset = 12;
constexpr size_t kVlanTagLength = 4;

// Linux cooked headers: v1 keeps the protocol in its last two bytes, v2 in
// its first two.
constexpr size_t kCookedHeaderLength = 16;
constexpr size_t kCookedProtocolOffset = 14;
constexpr size_t kCooked2HeaderLength = 20;
constexpr size_t kCooked2ProtocolOffset = 0;

// Every system numbers AF_INET 2; only the byte order of the 4-byte field
// differs, and a capture file keeps the order of the machine that wrote it.
constexpr size_t kLoopbackHeaderLength = 4;
constexpr uint32_t kAddressFamilyInet = 2;
constexpr uint32_t kAddressFamilyInetSwapped = 0x02000000;

bool isVlanTag(uint16_t etherType) { return std::ranges::find(kVlanEtherTypes, etherType) != kVlanEtherTypes.end(); }

// The packet behind an EtherType at typeOffset, stepping over VLAN tags.
// Each tag moves the type four bytes on, so the loop ends with the frame.
std::optional<FrameView> behindEtherType(FrameView frame, size_t typeOffset) {
  while (frame.has(typeOffset, 2) && isVlanTag(frame.be16(typeOffset))) typeOffset += kVlanTagLength;
  if (!frame.has(typeOffset, 2) || frame.be16(typeOffset) != kEtherTypeIpv4) return std::nullopt;
  return frame.slice(typeOffset + 2);
}

std::optional<FrameView> behindCooked2(FrameView frame) {
  if (!frame.has(0, kCooked2HeaderLength) || frame.be16(kCooked2ProtocolOffset) != kEtherTypeIpv4) {
    return std::nullopt;
  }
  return frame.slice(kCooked2HeaderLength);
}

std::optional<FrameView> behindCooked(FrameView frame) {
  if (!frame.has(0, kCookedHeaderLength)) return std::nullopt;
  // VLAN tags, when the kernel kept them, follow the cooked header.
  return behindEtherType(frame, kCookedProtocolOffset);
}

std::optional<FrameView> behindLoopback(FrameView frame, bool eitherByteOrder) {
  if (!frame.has(0, kLoopbackHeaderLength)) return std::nullopt;
  const uint32_t family = uint32_t{frame.be16(0)} << 16 | frame.be16(2);
  const bool inet = family == kAddressFamilyInet || (eitherByteOrder && family == kAddressFamilyInetSwapped);
  if (!inet) return std::nullopt;
  return frame.slice(kLoopbackHeaderLength);
}

constexpr std::array<std::pair<int, LinkLayer>, 7> kLinkLayers{{
    {DLT_EN10MB, LinkLayer::Ethernet},
    {DLT_LINUX_SLL, LinkLayer::LinuxCooked},
    {DLT_LINUX_SLL2, LinkLayer::LinuxCooked2},
    {DLT_NULL, LinkLayer::BsdLoopback},
    {DLT_LOOP, LinkLayer::BsdLoopbackLoop},
    {DLT_RAW, LinkLayer::RawIp},
    {DLT_IPV4, LinkLayer::Ipv4},
}};

}  // namespace

std::optional<LinkLayer> linkLayerFor(int datalink) {
  for (const auto& [value, linkLayer] : kLinkLayers) {
    if (value == datalink) return linkLayer;
  }
  return std::nullopt;
}

std::optional<FrameView> findIpv4Packet(LinkLayer linkLayer, FrameView frame) {
  switch (linkLayer) {
    case LinkLayer::Ethernet: return behindEtherType(frame, kEthernetTypeOffset);
    case LinkLayer::LinuxCooked: return behindCooked(frame);
    case LinkLayer::LinuxCooked2: return behindCooked2(frame);
    case LinkLayer::BsdLoopback: return behindLoopback(frame, true);
    case LinkLayer::BsdLoopbackLoop: return behindLoopback(frame, false);
    case LinkLayer::RawIp:
    case LinkLayer::Ipv4: return frame;
  }
  return std::nullopt;
}

std::optional<TcpSegment> findTcpSegment(LinkLayer linkLayer, std::span<const uint8_t> frame) {
  const auto packet = findIpv4Packet(linkLayer, FrameView(frame));
  if (!packet) return std::nullopt;
  return findTcpSegmentInIp(*packet);
}

}  // namespace vestrel
