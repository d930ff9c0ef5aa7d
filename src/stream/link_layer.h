// The link-layer headers a capture can start its frames with, and the IP
// packet found behind each of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "stream/frame.h"

namespace vestrel {

enum class LinkLayer {
  Ethernet,         // Ethernet II, any number of 802.1Q / 802.1ad tags
  LinuxCooked,      // Linux "cooked" capture, version 1 (the "any" device)
  LinuxCooked2,     // Linux "cooked" capture, version 2
  BsdLoopback,      // BSD loopback: address family in the writer's byte order
  BsdLoopbackLoop,  // OpenBSD loopback: address family in network order
  RawIp,            // no link header; the IP version tells IPv4 from IPv6
  Ipv4,             // no link header; IPv4 only
  Ipv6,             // no link header; IPv6 only
};

// The link layer of a capture library link type (DLT_ value) whose frames
// can carry IPv4, or nothing for one the monitor does not read (DLT_IPV6
// among them: the monitor follows IPv4 only).
std::optional<LinkLayer> linkLayerFor(int datalink);

// The same, counting the link types that carry IPv6 only.
std::optional<LinkLayer> linkLayerForAnyIp(int datalink);

enum class IpVersion : uint8_t { V4 = 4, V6 = 6 };

// An IP packet and the version its link header (or, for raw IP, its own
// version nibble) announces.
struct IpPacket {
  IpVersion version;
  FrameView bytes;
};

// The IP packet a frame carries: nothing when its link header is cut short
// or names another protocol (ARP, ...).
std::optional<IpPacket> findIpPacket(LinkLayer linkLayer, FrameView frame);

// The TCP segment of an IPv4 or IPv6 frame of this link layer. A packet
// whose version differs from the one its link header announced yields
// nothing.
std::optional<TcpSegment> findTcpSegment(LinkLayer linkLayer, std::span<const uint8_t> frame);

}  // namespace vestrel
