// Finding the TCP segment inside a captured IPv4 packet. Every read goes through
// FrameView, which knows how many bytes were captured, so a short or lying
// frame can never make us read past the capture.
#pragma once

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
  // The bytes from offset on, at most length of them; empty past the end.
  FrameView slice(size_t offset, size_t length = SIZE_MAX) const;
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
};

struct TcpSegment {
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  std::span<const uint8_t> payload;  // points into the captured frame
  // The capture kept fewer payload bytes than the packet carried (a short
  // snapshot length), so the stream is missing some.
  bool cutShort = false;
};

// The TCP segment of the IPv4 packet that starts these bytes, or nothing
// when the packet is not IPv4 carrying TCP or is too short for the headers
// it announces. The payload is what the IP total length leaves after the
// headers, cut to what was captured.
std::optional<TcpSegment> findTcpSegmentInIp(FrameView ip);

}  // namespace vestrel
