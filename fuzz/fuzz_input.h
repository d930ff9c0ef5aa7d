// The byte layout the fuzz targets read and fuzz_seeds writes.
//
// fuzz_frames: a link byte (index into kLinkLayers, taken modulo its size),
// a settings byte (FrameSettings bits), then frames as records.
// fuzz_stream: records only, each a chunk of stream bytes.
//
// A record is a 16-bit little-endian length and that many bytes; a record
// whose length runs past the input takes what is left.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "stream/link_layer.h"

namespace vestrel::fuzz {

// Every link layer the monitor reads.
inline constexpr std::array<LinkLayer, 8> kLinkLayers{
    LinkLayer::Ethernet,        LinkLayer::LinuxCooked, LinkLayer::LinuxCooked2, LinkLayer::BsdLoopback,
    LinkLayer::BsdLoopbackLoop, LinkLayer::RawIp,       LinkLayer::Ipv4,         LinkLayer::Ipv6,
};

inline uint8_t linkByte(LinkLayer linkLayer) {
  for (size_t index = 0; index < kLinkLayers.size(); ++index) {
    if (kLinkLayers[index] == linkLayer) return static_cast<uint8_t>(index);
  }
  return 0;
}

inline LinkLayer linkLayerOf(uint8_t linkByte) { return kLinkLayers[linkByte % kLinkLayers.size()]; }

// The settings byte of fuzz_frames.
enum FrameSetting : uint8_t {
  kShowUnknown = 0x01,    // -u
  kFullStrings = 0x02,    // -s
  kLog = 0x04,            // -l, to a log that takes every byte
  kFullLog = 0x08,        // -l, to a log whose writes fail after a few hundred bytes
  kReadingFile = 0x10,    // as vestrel-trace runs: no flush after each message
  kPerConnection = 0x20,  // each connection on its own, as vestrel-trace reassembles by default
  kPrefixes = 0x40,       // with it: the time and client end in front, the connection lines (-t -C)
  kJson = 0x80,           // with it: one JSON object a line, with the raw message (--json -x)
};

class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> input) : rest_(input) {}

  bool done() const { return rest_.empty(); }

  uint8_t takeByte() {
    if (rest_.empty()) return 0;
    const uint8_t value = rest_.front();
    rest_ = rest_.subspan(1);
    return value;
  }

  // Always consumes at least one byte while any are left.
  std::span<const uint8_t> nextRecord() {
    const size_t low = takeByte();
    const size_t high = takeByte();
    const size_t length = std::min(low | high << 8, rest_.size());
    const std::span<const uint8_t> record = rest_.first(length);
    rest_ = rest_.subspan(length);
    return record;
  }

 private:
  std::span<const uint8_t> rest_;
};

inline void appendRecord(std::vector<uint8_t>& out, std::span<const uint8_t> record) {
  const size_t length = std::min<size_t>(record.size(), 0xFFFF);
  out.push_back(static_cast<uint8_t>(length));
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.insert(out.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace vestrel::fuzz
