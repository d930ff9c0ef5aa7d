#include "stream/link_layer.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>

namespace vestrel {

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
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

// Every system numbers AF_INET 2, but AF_INET6 differs: 24 on NetBSD and
// OpenBSD, 28 on FreeBSD and DragonFly, 30 on macOS. A DLT_NULL capture
// file keeps the byte order of the machine that wrote it.
constexpr size_t kLoopbackHeaderLength = 4;
struct AddressFamily {
  uint32_t value;
  IpVersion version;
};
constexpr std::array<AddressFamily, 4> kAddressFamilies{{
    {2, IpVersion::V4},
    {24, IpVersion::V6},
    {28, IpVersion::V6},
    {30, IpVersion::V6},
}};

constexpr uint8_t kIpVersion4 = 4;
constexpr uint8_t kIpVersion6 = 6;

bool isVlanTag(uint16_t etherType) { return std::ranges::find(kVlanEtherTypes, etherType) != kVlanEtherTypes.end(); }

std::optional<IpPacket> ipBehind(uint16_t etherType, FrameView packet) {
  switch (etherType) {
    case kEtherTypeIpv4: return IpPacket{IpVersion::V4, packet};
    case kEtherTypeIpv6: return IpPacket{IpVersion::V6, packet};
    default: return std::nullopt;
  }
}

// The packet behind an EtherType at typeOffset, stepping over VLAN tags.
// Each tag moves the type four bytes on, so the loop ends with the frame.
std::optional<IpPacket> behindEtherType(FrameView frame, size_t typeOffset) {
  while (frame.has(typeOffset, 2) && isVlanTag(frame.be16(typeOffset))) typeOffset += kVlanTagLength;
  if (!frame.has(typeOffset, 2)) return std::nullopt;
  return ipBehind(frame.be16(typeOffset), frame.slice(typeOffset + 2));
}

std::optional<IpPacket> behindCooked2(FrameView frame) {
  if (!frame.has(0, kCooked2HeaderLength)) return std::nullopt;
  return ipBehind(frame.be16(kCooked2ProtocolOffset), frame.slice(kCooked2HeaderLength));
}

std::optional<IpPacket> behindCooked(FrameView frame) {
  if (!frame.has(0, kCookedHeaderLength)) return std::nullopt;
  // VLAN tags, when the kernel kept them, follow the cooked header.
  return behindEtherType(frame, kCookedProtocolOffset);
}

uint32_t swapBytes(uint32_t value) {
  return (value >> 24) | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | (value << 24);
}

std::optional<IpVersion> versionOfFamily(uint32_t family) {
  for (const AddressFamily& known : kAddressFamilies) {
    if (known.value == family) return known.version;
  }
  return std::nullopt;
}

std::optional<IpPacket> behindLoopback(FrameView frame, bool eitherByteOrder) {
  if (!frame.has(0, kLoopbackHeaderLength)) return std::nullopt;
  const uint32_t family = frame.be32(0);
  auto version = versionOfFamily(family);
  if (!version && eitherByteOrder) version = versionOfFamily(swapBytes(family));
  if (!version) return std::nullopt;
  return IpPacket{*version, frame.slice(kLoopbackHeaderLength)};
}

std::optional<IpPacket> rawIp(FrameView frame) {
  switch (frame.u8(0) / 16) {
    case kIpVersion4: return IpPacket{IpVersion::V4, frame};
    case kIpVersion6: return IpPacket{IpVersion::V6, frame};
    default: return std::nullopt;
  }
}

struct LinkType {
  int datalink;
  LinkLayer linkLayer;
  bool carriesIpv4;
};

constexpr std::array<LinkType, 8> kLinkTypes{{
    {DLT_EN10MB, LinkLayer::Ethernet, true},
    {DLT_LINUX_SLL, LinkLayer::LinuxCooked, true},
    {DLT_LINUX_SLL2, LinkLayer::LinuxCooked2, true},
    {DLT_NULL, LinkLayer::BsdLoopback, true},
    {DLT_LOOP, LinkLayer::BsdLoopbackLoop, true},
    {DLT_RAW, LinkLayer::RawIp, true},
    {DLT_IPV4, LinkLayer::Ipv4, true},
    {DLT_IPV6, LinkLayer::Ipv6, false},
}};

std::optional<LinkLayer> lookUpLinkLayer(int datalink, bool includeIpv6Only) {
  for (const LinkType& type : kLinkTypes) {
    if (type.datalink == datalink && (type.carriesIpv4 || includeIpv6Only)) return type.linkLayer;
  }
  return std::nullopt;
}

}  // namespace

std::optional<LinkLayer> linkLayerFor(int datalink) { return lookUpLinkLayer(datalink, false); }

std::optional<LinkLayer> linkLayerForAnyIp(int datalink) { return lookUpLinkLayer(datalink, true); }

std::optional<IpPacket> findIpPacket(LinkLayer linkLayer, FrameView frame) {
  switch (linkLayer) {
    case LinkLayer::Ethernet: return behindEtherType(frame, kEthernetTypeOffset);
    case LinkLayer::LinuxCooked: return behindCooked(frame);
    case LinkLayer::LinuxCooked2: return behindCooked2(frame);
    case LinkLayer::BsdLoopback: return behindLoopback(frame, true);
    case LinkLayer::BsdLoopbackLoop: return behindLoopback(frame, false);
    case LinkLayer::RawIp: return rawIp(frame);
    case LinkLayer::Ipv4: return IpPacket{IpVersion::V4, frame};
    case LinkLayer::Ipv6: return IpPacket{IpVersion::V6, frame};
  }
  return std::nullopt;
}

std::optional<TcpSegment> findTcpSegment(LinkLayer linkLayer, std::span<const uint8_t> frame) {
  const auto packet = findIpPacket(linkLayer, FrameView(frame));
  if (!packet) return std::nullopt;
  if (packet->version == IpVersion::V6) return findTcpSegmentInIpv6(packet->bytes);
  return findTcpSegmentInIpv4(packet->bytes);
}

}  // namespace vestrel
