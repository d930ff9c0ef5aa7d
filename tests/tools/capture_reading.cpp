#include "capture_reading.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <memory>

namespace vestrel::wire {

namespace {

struct PcapCloser {
  void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

CaptureFile readAll(pcap_t* handle) {
  CaptureFile capture;
  capture.datalink = pcap_datalink(handle);
  capture.snapshot = pcap_snapshot(handle);
  pcap_pkthdr* frameHeader = nullptr;
  const u_char* data = nullptr;
  int result = 0;
  while ((result = pcap_next_ex(handle, &frameHeader, &data)) == 1) {
    capture.frames.push_back(
        {frameHeader->ts, frameHeader->caplen, frameHeader->len, Bytes(data, data + frameHeader->caplen)});
  }
  EXPECT_EQ(result, PCAP_ERROR_BREAK) << "reading stopped early: " << pcap_geterr(handle);
  return capture;
}

// Checksums summed here in one pass, folded once at the end, so the writer's
// own sum is not what checks it.
uint16_t foldedSum(const Bytes& bytes) {
  uint64_t sum = 0;
  for (size_t at = 0; at < bytes.size(); ++at) sum += at % 2 == 0 ? uint64_t{bytes[at]} << 8 : bytes[at];
  while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(sum);
}

uint16_t be16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

uint32_t be32(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{be16(bytes, at)} << 16 | be16(bytes, at + 2);
}

}  // namespace

Bytes TemporaryFile::contents() const {
  if (std::fflush(file_) != 0) ADD_FAILURE() << "cannot write the temporary file";
  std::rewind(file_);
  Bytes bytes;
  for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) bytes.push_back(static_cast<uint8_t>(c));
  return bytes;
}

CaptureFile readCapture(const Bytes& fileBytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  if (std::fwrite(fileBytes.data(), 1, fileBytes.size(), file) != fileBytes.size() || std::fflush(file) != 0) {
    static_cast<void>(std::fclose(file));
    ADD_FAILURE() << "cannot write the temporary capture file";
    return {};
  }
  std::rewind(file);
  char error[PCAP_ERRBUF_SIZE] = {};
  // libpcap closes the file with the handle.
  PcapHandle handle(pcap_fopen_offline(file, error));
  if (!handle) {
    static_cast<void>(std::fclose(file));  // only read
    ADD_FAILURE() << "libpcap cannot read the capture: " << error;
    return {};
  }
  return readAll(handle.get());
}

CaptureFile readCapture(const char* path) {
  char error[PCAP_ERRBUF_SIZE] = {};
  PcapHandle handle(pcap_open_offline(path, error));
  if (!handle) {
    ADD_FAILURE() << "libpcap cannot read " << path << ": " << error;
    return {};
  }
  return readAll(handle.get());
}

Bytes writtenBytes(LinkType link, FileFormat format, const std::function<bool(CaptureWriter&)>& write,
                   uint32_t snapLength) {
  TemporaryFile file;
  CaptureWriter writer(file.get(), link, format, snapLength);
  EXPECT_TRUE(write(writer)) << "the writer reported a failure";
  EXPECT_TRUE(writer.finish());
  return file.contents();
}

Bytes fileBytes(const char* path) {
  Bytes bytes;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return bytes;
  }
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes.push_back(static_cast<uint8_t>(c));
  if (std::ferror(file) != 0) ADD_FAILURE() << "cannot read " << path;
  static_cast<void>(std::fclose(file));  // only read
  return bytes;
}

std::array<uint8_t, 16> ipv6Address(std::string_view hex) {
  std::array<uint8_t, 16> address{};
  const Bytes parsed = hexBytes(hex);
  std::copy_n(parsed.begin(), std::min(parsed.size(), address.size()), address.begin());
  return address;
}

size_t linkHeaderBytes(LinkType link) {
  switch (link) {
    case LinkType::Ethernet: return 14;
    case LinkType::Vlan: return 18;
    case LinkType::QinQ: return 22;
    case LinkType::LinuxCooked: return 16;
    case LinkType::LinuxCooked2: return 20;
    case LinkType::BsdNull:
    case LinkType::BsdLoop: return 4;
    case LinkType::RawIp:
    case LinkType::Ipv4: return 0;
  }
  return 0;
}

namespace {

// The TCP part of a segment, its checksum summed with the pseudo-header.
std::optional<TcpSegmentSeen> parseTcp(std::span<const uint8_t> tcp, const Bytes& pseudoHeader) {
  if (tcp.size() < 20) return std::nullopt;
  const size_t tcpLength = size_t{tcp[12]} >> 4 << 2;
  if (tcpLength < 20 || tcpLength > tcp.size()) return std::nullopt;
  TcpSegmentSeen segment{};
  segment.sourcePort = be16(tcp, 0);
  segment.destinationPort = be16(tcp, 2);
  segment.sequence = be32(tcp, 4);
  segment.acknowledged = be32(tcp, 8);
  segment.flags = tcp[13];
  segment.payload = Bytes(tcp.begin() + static_cast<std::ptrdiff_t>(tcpLength), tcp.end());
  segment.tcpChecksumGood = foldedSum(pseudoHeader + Bytes(tcp.begin(), tcp.end())) == 0xFFFF;
  return segment;
}

std::optional<TcpSegmentSeen> parseIpv6(std::span<const uint8_t> packet) {
  constexpr size_t kHeader = 40;
  if (packet.size() < kHeader + 20 || packet[6] != 6) return std::nullopt;
  const size_t payloadLength = be16(packet, 4);
  if (kHeader + payloadLength > packet.size()) return std::nullopt;
  const Bytes addresses(packet.begin() + 8, packet.begin() + kHeader);
  auto segment = parseTcp(packet.subspan(kHeader, payloadLength),
                          addresses + netDword(static_cast<uint32_t>(payloadLength)) + fill(3, 0) + byte(6));
  if (!segment) return std::nullopt;
  segment->sourceAddress = head(addresses, 16);
  segment->destinationAddress = tail(addresses, 16);
  segment->ipChecksumGood = true;
  return segment;
}

}  // namespace

std::optional<TcpSegmentSeen> parseTcpPacket(std::span<const uint8_t> packet) {
  if (!packet.empty() && packet[0] >> 4 == 6) return parseIpv6(packet);
  if (packet.size() < 40 || packet[0] >> 4 != 4 || packet[9] != 6) return std::nullopt;
  const size_t ipLength = size_t{packet[0] & 0x0Fu} * 4;
  const size_t totalLength = be16(packet, 2);
  if (totalLength > packet.size() || ipLength + 20 > totalLength) return std::nullopt;
  const std::span<const uint8_t> tcp = packet.subspan(ipLength, totalLength - ipLength);
  const Bytes addresses(packet.begin() + 12, packet.begin() + 20);
  auto segment = parseTcp(tcp, addresses + byte(0) + byte(6) + netWord(static_cast<uint16_t>(tcp.size())));
  if (!segment) return std::nullopt;
  segment->source = be32(packet, 12);
  segment->destination = be32(packet, 16);
  segment->sourceAddress = head(addresses, 4);
  segment->destinationAddress = tail(addresses, 4);
  segment->ipId = be16(packet, 4);
  segment->ipChecksumGood =
      foldedSum(Bytes(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(ipLength))) == 0xFFFF;
  return segment;
}

std::vector<TcpSegmentSeen> tcpSegments(const CaptureFile& capture, LinkType link) {
  std::vector<TcpSegmentSeen> segments;
  for (size_t index = 0; index < capture.frames.size(); ++index) {
    const Bytes& frame = capture.frames[index].bytes;
    const auto segment = parseTcpPacket(std::span(frame).subspan(std::min(frame.size(), linkHeaderBytes(link))));
    if (!segment) {
      ADD_FAILURE() << "frame " << index << " holds no TCP segment";
      continue;
    }
    segments.push_back(*segment);
  }
  return segments;
}

}  // namespace vestrel::wire
