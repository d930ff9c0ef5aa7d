#include "stream/frame.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

namespace {
constexpr uint8_t kIpVersion4 = 4;
constexpr uint8_t kIpVersion6 = 6;
constexpr uint8_t kProtocolTcp = 6;
constexpr size_t kMinIpHeaderLength = 20;
constexpr uint16_t kFragmentOffsetMask = 0x1FFF;
constexpr size_t kIpv4SourceOffset = 12;
constexpr size_t kIpv4DestinationOffset = 16;
constexpr size_t kIpv4AddressLength = 4;

constexpr size_t kIpv6HeaderLength = 40;
constexpr size_t kIpv6PayloadLengthOffset = 4;
constexpr size_t kIpv6NextHeaderOffset = 6;
constexpr size_t kIpv6SourceOffset = 8;
constexpr size_t kIpv6DestinationOffset = 24;
constexpr size_t kIpv6AddressLength = 16;

// IPv6 next-header values this program steps over.
constexpr uint8_t kHopByHop = 0;
constexpr uint8_t kRouting = 43;
constexpr uint8_t kFragment = 44;
constexpr uint8_t kAuthentication = 51;
constexpr uint8_t kDestinationOptions = 60;
constexpr size_t kFragmentHeaderLength = 8;
// The offset is in the top 13 bits; the low 3 hold flags.
constexpr uint16_t kIpv6FragmentOffsetMask = 0xFFF8;

constexpr size_t kMinTcpHeaderLength = 20;
constexpr size_t kTcpSequenceOffset = 4;
constexpr size_t kTcpAcknowledgementOffset = 8;
constexpr size_t kTcpFlagsOffset = 13;
constexpr size_t kTcpWindowOffset = 14;
constexpr size_t kTcpPortsLength = 4;
constexpr uint8_t kOptionEnd = 0;
constexpr uint8_t kOptionNoOperation = 1;
constexpr uint8_t kOptionWindowScale = 3;
constexpr uint8_t kWindowScaleLength = 3;
// RFC 7323: a larger shift count is taken as 14.
constexpr uint8_t kLargestWindowShift = 14;

uint8_t ipVersion(FrameView ip) { return ip.u8(0) / 16; }

void readAddress(FrameView ip, size_t offset, size_t length, IpAddress& address) {
  address.v6 = length == kIpv6AddressLength;
  if (ip.has(offset, length)) std::memcpy(address.bytes.data(), ip.bytes().data() + offset, length);
}

// The window scale option among a SYN's options, which fill the TCP header
// from its fixed part to its length.
std::optional<uint8_t> findWindowShift(FrameView tcp, size_t headerLength) {
  const FrameView options = tcp.slice(kMinTcpHeaderLength, headerLength - kMinTcpHeaderLength);
  for (size_t at = 0; at < options.size();) {
    const uint8_t kind = options.u8(at);
    if (kind == kOptionEnd) break;
    if (kind == kOptionNoOperation) {
      ++at;
      continue;
    }
    const size_t length = options.u8(at + 1);
    if (length < 2 || !options.has(at, length)) break;
    if (kind == kOptionWindowScale && length == kWindowScaleLength) {
      return std::min(options.u8(at + 2), kLargestWindowShift);
    }
    at += length;
  }
  return std::nullopt;
}

// A header the snapshot cut: the ports tell whose it was, so that it can be
// counted; nothing else of it is read.
std::optional<TcpSegment> cutTcpHeader(FrameView tcp) {
  if (!tcp.has(0, kTcpPortsLength)) return std::nullopt;
  TcpSegment segment;
  segment.sourcePort = tcp.be16(0);
  segment.destinationPort = tcp.be16(2);
  segment.cutShort = segment.headerCut = true;
  return segment;
}

// The TCP segment whose header starts at tcpOffset of a packet that the IP
// length field says ends at packetEnd.
std::optional<TcpSegment> readTcp(FrameView ip, size_t tcpOffset, size_t packetEnd) {
  const FrameView tcp = ip.slice(tcpOffset);
  if (!tcp.has(0, kMinTcpHeaderLength)) return packetEnd > ip.size() ? cutTcpHeader(tcp) : std::nullopt;
  const size_t tcpHeaderLength = size_t{tcp.u8(12)} / 16 * 4;
  if (tcpHeaderLength < kMinTcpHeaderLength) return std::nullopt;

  TcpSegment segment;
  segment.sourcePort = tcp.be16(0);
  segment.destinationPort = tcp.be16(2);
  segment.sequence = tcp.be32(kTcpSequenceOffset);
  segment.acknowledgement = tcp.be32(kTcpAcknowledgementOffset);
  segment.flags = tcp.u8(kTcpFlagsOffset);
  segment.window = tcp.be16(kTcpWindowOffset);
  if (segment.has(kTcpSyn)) segment.windowShift = findWindowShift(tcp, tcpHeaderLength);

  const size_t headerBytes = tcpOffset + tcpHeaderLength;
  // A length shorter than the headers leaves no payload.
  if (packetEnd > headerBytes) {
    const size_t payloadLength = packetEnd - headerBytes;
    segment.payload = ip.slice(headerBytes, payloadLength).bytes();
    segment.cutShort = segment.payload.size() < payloadLength;
    segment.uncaptured = static_cast<uint32_t>(payloadLength - segment.payload.size());
  }
  // Options the snapshot cut: whatever they said is missing.
  if (ip.size() < std::min(packetEnd, headerBytes)) segment.cutShort = true;
  return segment;
}

// The length of the extension header of this type at offset, or nothing
// when it cannot be stepped over to reach a TCP header.
std::optional<size_t> extensionHeaderLength(FrameView ip, uint8_t type, size_t offset) {
  if (!ip.has(offset, 2)) return std::nullopt;
  switch (type) {
    case kHopByHop:
    case kRouting:
    case kDestinationOptions: return (size_t{ip.u8(offset + 1)} + 1) * 8;
    case kAuthentication: return (size_t{ip.u8(offset + 1)} + 2) * 4;
    case kFragment:
      // Later fragments carry no TCP header of their own.
      if (!ip.has(offset, kFragmentHeaderLength) || (ip.be16(offset + 2) & kIpv6FragmentOffsetMask) != 0) {
        return std::nullopt;
      }
      return kFragmentHeaderLength;
    default: return std::nullopt;  // ESP, no next header, UDP, ...
  }
}

// Where the TCP header starts behind the extension headers.
std::optional<size_t> ipv6TcpOffset(FrameView ip) {
  uint8_t next = ip.u8(kIpv6NextHeaderOffset);
  size_t offset = kIpv6HeaderLength;
  for (int steps = 0; next != kProtocolTcp; ++steps) {
    if (steps == kMaxIpv6ExtensionHeaders) return std::nullopt;
    // A header that runs past the capture leaves the TCP header outside it,
    // where readTcp finds nothing.
    const auto length = extensionHeaderLength(ip, next, offset);
    if (!length) return std::nullopt;
    next = ip.u8(offset);
    offset += *length;
  }
  return offset;
}

}  // namespace

FrameView FrameView::slice(size_t offset, size_t length) const {
  if (offset >= bytes_.size()) return FrameView({});
  return FrameView(bytes_.subspan(offset, std::min(length, bytes_.size() - offset)));
}

std::optional<TcpSegment> findTcpSegmentInIp(FrameView ip) {
  switch (ipVersion(ip)) {
    case kIpVersion4: return findTcpSegmentInIpv4(ip);
    case kIpVersion6: return findTcpSegmentInIpv6(ip);
    default: return std::nullopt;
  }
}

std::optional<TcpSegment> findTcpSegmentInIpv4(FrameView ip) {
  if (!ip.has(0, kMinIpHeaderLength) || ip.u8(9) != kProtocolTcp) return std::nullopt;
  // An IPv6 packet (or anything else) read as IPv4 would yield made-up
  // ports and payload.
  if (ipVersion(ip) != kIpVersion4) return std::nullopt;
  const size_t ipHeaderLength = size_t{ip.u8(0)} % 16 * 4;
  // A header length below the fixed part means this is not an IPv4 header.
  if (ipHeaderLength < kMinIpHeaderLength) return std::nullopt;

  // Later fragments of a datagram carry no TCP header of their own.
  if ((ip.be16(6) & kFragmentOffsetMask) != 0) return std::nullopt;

  // A total length of 0 is what a capture shows of a segment the host left
  // for its network card to cut (TSO): the frame holds the whole packet.
  const size_t totalLength = ip.be16(2);
  auto segment = readTcp(ip, ipHeaderLength, totalLength != 0 ? totalLength : ip.size());
  if (!segment) return std::nullopt;
  segment->lengthFromFrame = totalLength == 0;
  readAddress(ip, kIpv4SourceOffset, kIpv4AddressLength, segment->source);
  readAddress(ip, kIpv4DestinationOffset, kIpv4AddressLength, segment->destination);
  return segment;
}

std::optional<TcpSegment> findTcpSegmentInIpv6(FrameView ip) {
  if (!ip.has(0, kIpv6HeaderLength) || ipVersion(ip) != kIpVersion6) return std::nullopt;
  // A jumbogram keeps its length in a hop-by-hop option; no link this
  // program reads carries one, so a zero is taken as a broken header.
  const size_t payloadLength = ip.be16(kIpv6PayloadLengthOffset);
  if (payloadLength == 0) return std::nullopt;
  const auto tcpOffset = ipv6TcpOffset(ip);
  if (!tcpOffset) return std::nullopt;

  auto segment = readTcp(ip, *tcpOffset, kIpv6HeaderLength + payloadLength);
  if (!segment) return std::nullopt;
  readAddress(ip, kIpv6SourceOffset, kIpv6AddressLength, segment->source);
  readAddress(ip, kIpv6DestinationOffset, kIpv6AddressLength, segment->destination);
  return segment;
}

}  // namespace vestrel
