// Writes IPv4 and IPv6 packets into pcap or pcapng capture files, each
// wrapped in the link-layer header of the chosen link type, as a capture on
// such a link would hold them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

#include "tcp_packets.h"
#include "wire_bytes.h"

namespace vestrel::wire {

enum class LinkType {
  Ethernet,
  Vlan,          // Ethernet with one 802.1Q tag
  QinQ,          // Ethernet with an 802.1ad outer tag and an 802.1Q inner tag
  LinuxCooked,   // Linux "any" device, version 1 header
  LinuxCooked2,  // Linux "any" device, version 2 header
  BsdNull,       // BSD loopback, address family in the writer's (little-endian) order
  BsdLoop,       // OpenBSD loopback, address family big-endian
  RawIp,         // no link header, link type RAW
  Ipv4,          // no link header, link type IPV4: IPv4 packets only
};

struct LinkTypeName {
  LinkType type;
  std::string_view name;
};

// Every link type with the name the generator's --link option takes.
std::span<const LinkTypeName> linkTypeNames();
std::optional<LinkType> findLinkType(std::string_view name);
std::string_view linkTypeName(LinkType type);

// The link type number stored in the file header.
uint16_t fileLinkType(LinkType type);

enum class FileFormat { Pcap, Pcapng };
std::optional<FileFormat> findFileFormat(std::string_view name);

// Capture times are kept to the microsecond, as both formats store them here.
using CaptureTime = std::chrono::sys_time<std::chrono::microseconds>;

inline constexpr uint32_t kDefaultSnapLength = 262144;

// Whether frames of the link type can hold packets of the IP version.
bool linkCarries(LinkType type, IpVersion version);

// The link header the writer puts in front of a packet sent by the client
// (fromClient) or by the server.
Bytes linkHeader(LinkType type, bool fromClient, IpVersion version = IpVersion::V4);

// Writes one capture file to an open stream it does not own. The file header
// goes out with the first packet (or finish(), for an empty capture). Frames
// longer than the snapshot length are cut to it, their full length kept.
// Every call reports whether all bytes so far were written; a packet the
// link type cannot carry is refused and counts as a failed write.
class CaptureWriter {
 public:
  CaptureWriter(std::FILE* out, LinkType link, FileFormat format, uint32_t snapLength = kDefaultSnapLength);

  bool writePacket(CaptureTime time, std::span<const uint8_t> ipPacket, bool fromClient);
  // Writes a header still owed and flushes the stream.
  bool finish();

 private:
  bool writeFileHeader();
  bool writeFrame(CaptureTime time, std::span<const uint8_t> linkHeader, std::span<const uint8_t> ipPacket);
  bool put(std::span<const uint8_t> bytes);

  std::FILE* out_;
  LinkType link_;
  FileFormat format_;
  uint32_t snapLength_;
  bool headerWritten_ = false;
  bool good_ = true;
  std::array<Bytes, 4> linkHeaders_;  // by IP version and sender
  Bytes record_;                      // the frame being written, kept for its buffer
};

}  // namespace vestrel::wire
