#include "stream/frame.h"

#include <algorithm>

namespace vestrel {

namespace {
constexpr uint8_t kIpVersion4 = 4;
constexpr uint8_t kProtocolTcp = 6;
constexpr size_t kMinIpHeaderLength = 20;
constexpr uint16_t kFragmentOffsetMask = 0x1FFF;
constexpr size_t kMinTcpHeaderLength = 20;
}  // namespace

FrameView FrameView::slice(size_t offset, size_t length) const {
  if (offset >= bytes_.size()) return FrameView({});
  return FrameView(bytes_.subspan(offset, std::min(length, bytes_.size() - offset)));
}

std::optional<TcpSegment> findTcpSegmentInIp(FrameView ip) {
  if (!ip.has(0, kMinIpHeaderLength) || ip.u8(9) != kProtocolTcp) return std::nullopt;
  // An IPv6 packet (or anything else) read as IPv4 would yield made-up
  // ports and payload.
  if (ip.u8(0) / 16 != kIpVersion4) return std::nullopt;
  const size_t ipHeaderLength = size_t{ip.u8(0)} % 16 * 4;
  // A header length below the fixed part means this is not an IPv4 header.
  if (ipHeaderLength < kMinIpHeaderLength) return std::nullopt;

  // Later fragments of a datagram carry no TCP header of their own.
  if ((ip.be16(6) & kFragmentOffsetMask) != 0) return std::nullopt;

  const FrameView tcp = ip.slice(ipHeaderLength);
  if (!tcp.has(0, kMinTcpHeaderLength)) return std::nullopt;
  const size_t tcpHeaderLength = size_t{tcp.u8(12)} / 16 * 4;
  if (tcpHeaderLength < kMinTcpHeaderLength) return std::nullopt;

  TcpSegment segment;
  segment.sourcePort = tcp.be16(0);
  segment.destinationPort = tcp.be16(2);

  const size_t headerBytes = ipHeaderLength + tcpHeaderLength;
  const size_t totalLength = ip.be16(2);
  // A total length shorter than the headers leaves no payload.
  if (totalLength > headerBytes) {
    const size_t payloadLength = totalLength - headerBytes;
    segment.payload = ip.slice(headerBytes, payloadLength).bytes();
    segment.cutShort = segment.payload.size() < payloadLength;
  }
  return segment;
}

}  // namespace vestrel
