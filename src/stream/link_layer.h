// The link-layer headers a capture can start its frames with, and the IPv4
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
};

// The link layer of a capture library link type (DLT_ value), or nothing
// for one this program does not read.
std::optional<LinkLayer> linkLayerFor(int datalink);

// The IPv4 packet a frame carries: nothing when its link header is cut
// short or names another protocol (IPv6, ARP, ...).
std::optional<FrameView> findIpv4Packet(LinkLayer linkLayer, FrameView frame);

// The TCP segment of an IPv4 frame of this link layer.
std::optional<TcpSegment> findTcpSegment(LinkLayer linkLayer, std::span<const uint8_t> frame);

}  // namespace vestrel
