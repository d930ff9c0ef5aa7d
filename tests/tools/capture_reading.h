// Reading written captures back the way other programs will: through
// libpcap, then IPv4 or IPv6 and TCP parsed by hand with checksums checked
// independently of the writer.
#pragma once

#include <sys/time.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "capture_writer.h"

namespace vestrel::wire {

struct CapturedFrame {
  timeval time;
  uint32_t capturedLength;
  uint32_t length;
  Bytes bytes;
};

struct CaptureFile {
  int datalink = -1;
  int snapshot = 0;
  std::vector<CapturedFrame> frames;
};

// A temporary file, gone when closed.
class TemporaryFile {
 public:
  TemporaryFile() : file_(std::tmpfile()) {}
  ~TemporaryFile() {
    // A scratch file: what it held is read before it goes.
    if (file_ != nullptr) static_cast<void>(std::fclose(file_));
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  std::FILE* get() const { return file_; }
  Bytes contents() const;

 private:
  std::FILE* file_;
};

// libpcap's view of a file; a file it cannot open fails the calling test.
CaptureFile readCapture(const Bytes& fileBytes);
CaptureFile readCapture(const char* path);

// What write puts through a writer of this kind, as the file's bytes.
Bytes writtenBytes(LinkType link, FileFormat format, const std::function<bool(CaptureWriter&)>& write,
                   uint32_t snapLength = kDefaultSnapLength);

Bytes fileBytes(const char* path);

// An IPv6 address from 32 hex digits.
std::array<uint8_t, 16> ipv6Address(std::string_view hex);

// How many bytes the link header takes in front of the IP packet.
size_t linkHeaderBytes(LinkType link);

struct TcpSegmentSeen {
  uint32_t source;       // IPv4 address, host order; 0 for IPv6
  uint32_t destination;  // IPv4 address, host order; 0 for IPv6
  Bytes sourceAddress;   // as in the header: 4 bytes, or 16 for IPv6
  Bytes destinationAddress;
  uint16_t sourcePort;
  uint16_t destinationPort;
  uint32_t sequence;
  uint32_t acknowledged;
  uint8_t flags;
  uint16_t ipId;
  Bytes payload;
  bool ipChecksumGood;  // IPv6 headers have none: always true
  bool tcpChecksumGood;
};

inline constexpr uint8_t kFin = 0x01;
inline constexpr uint8_t kSyn = 0x02;
inline constexpr uint8_t kRst = 0x04;
inline constexpr uint8_t kPush = 0x08;
inline constexpr uint8_t kAck = 0x10;

// Parses an IPv4 or IPv6 packet carrying TCP; nothing when it is none.
std::optional<TcpSegmentSeen> parseTcpPacket(std::span<const uint8_t> packet);

// Every frame of a capture as a TCP segment; a frame that is not one fails the
// calling test.
std::vector<TcpSegmentSeen> tcpSegments(const CaptureFile& capture, LinkType link);

}  // namespace vestrel::wire
