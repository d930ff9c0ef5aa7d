// Finding the TCP segment inside a captured IPv4 or IPv6 packet. Every read
// goes through FrameView, which knows how many bytes were captured, so a
// short or lying frame can never make us read past the capture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vestrel {

// Bounded big-endian reads over captured bytes.
class FrameView {
 public:
  explicit FrameView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }
  bool has(size_t offset, size_t length) const { return offset <= bytes_.size() && length <= bytes_.size() - offset; }
  // Callers check has() first; out-of-range reads yield 0 all the same.
  uint8_t u8(size_t offset) const { return has(offset, 1) ? bytes_[offset] : 0; }
  uint16_t be16(size_t offset) const {
    return has(offset, 2) ? static_cast<uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]) : 0;
  }
  uint32_t be32(size_t offset) const { return has(offset, 4) ? uint32_t{be16(offset)} << 16 | be16(offset + 2) : 0; }
  // The bytes from offset on, at most length of them; empty past the end.
  FrameView slice(size_t offset, size_t length = SIZE_MAX) const;
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
};

// An IPv4 address in the first 4 bytes (the rest zero) or an IPv6 address.
// Plain bytes with no padding, so it compares and hashes as a whole.
struct IpAddress {
  std::array<uint8_t, 16> bytes{};
  bool v6 = false;

  // The address's own bytes: 4 for IPv4, 16 for IPv6.
  std::span<const uint8_t> octets() const { return std::span(bytes).first(v6 ? 16 : 4); }
  bool operator==(const IpAddress&) const = default;
};
static_assert(sizeof(IpAddress) == 17, "an address is its bytes and the version flag, nothing between");

inline constexpr uint8_t kTcpFin = 0x01;
inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpRst = 0x04;
inline constexpr uint8_t kTcpAck = 0x10;

struct TcpSegment {
  IpAddress source;
  IpAddress destination;
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint32_t sequence = 0;
  uint32_t acknowledgement = 0;      // meaningful with kTcpAck
  uint16_t window = 0;               // as sent: scaled by the sender's shift once both SYNs agreed on one
  uint8_t flags = 0;                 // the TCP header's flag byte, kTcp* bits among them
  std::span<const uint8_t> payload;  // points into the captured frame
  // The window scale option's shift count (RFC 7323), on a SYN that carries one.
  std::optional<uint8_t> windowShift;
  // The capture kept fewer payload bytes than the packet carried (a short
  // snapshot length), so the stream is missing some: uncaptured of them.
  bool cutShort = false;
  uint32_t uncaptured = 0;
  // The IPv4 total length was 0 (a segment left to the network card to
  // cut): the payload is what the frame holds.
  bool lengthFromFrame = false;
  // The snapshot ended inside the TCP header: only the ports are known, and
  // the segment is only counted.
  bool headerCut = false;

  bool has(uint8_t flag) const { return (flags & flag) != 0; }
  bool isIpv6() const { return source.v6; }
};

// The TCP segment of the IPv4 or IPv6 packet that starts these bytes (its
// version nibble tells which), or nothing when the packet does not carry a
// TCP header or is too short for the headers it announces (a header the
// snapshot cut yields the ports and headerCut). The payload is
// what the IP length field leaves after the headers, cut to what was
// captured. An IPv4 total length of 0 (a large segment the sending host
// left for its network card to cut) takes the payload from the frame.
std::optional<TcpSegment> findTcpSegmentInIp(FrameView ip);

// The same for a packet that must be IPv4: anything else yields nothing.
std::optional<TcpSegment> findTcpSegmentInIpv4(FrameView ip);

// The same for a packet that must be IPv6. Hop-by-hop, routing, destination
// options, authentication and first-fragment headers are stepped over, at
// most kMaxIpv6ExtensionHeaders of them. A later fragment, an encrypted
// (ESP) payload, a jumbogram (payload length 0) or any other next header
// yields nothing.
std::optional<TcpSegment> findTcpSegmentInIpv6(FrameView ip);

inline constexpr int kMaxIpv6ExtensionHeaders = 8;

}  // namespace vestrel
