#include "stream/frame.h"

#include <algorithm>

namespace vestrel {

namespace {
constexpr uint8_t kProtocolTcp = 6;
constexpr size_t kMinIpHeaderLength = 20;
constexpr size_t kMinTcpHeaderLength = 20;
}  // namespace

FrameView FrameView::slice(size_t offset, size_t length) const {
  if (offset >= bytes_.size()) return FrameView({});
  return FrameView(bytes_.subspan(offset, std::min(length, bytes_.size() - offset)));
}

std::optional<TcpSegment> findTcpSegmentInIp(FrameView ip) {
  if (!ip.has(0, kMinIpHeaderLength) || ip.u8(9) != kProtocolTcp) return std::nullopt;
  const size_t ipHeaderLength = size_t{ip.u8(0)} % 16 * 4;
  // A header length below the fixed part means this is not an IPv4 header.
  if (ipHeaderLength < kMinIpHeaderLength) return std::nullopt;

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
    segment.payload = ip.slice(headerBytes, totalLength - headerBytes).bytes();
  }
  return segment;
}

std::optional<TcpSegment> findTcpSegment(std::span<const uint8_t> frame) {
  return findTcpSegmentInIp(FrameView(frame).slice(kEthernetHeaderLength));
}

}  // namespace vestrel
