#include "capture_writer.h"

#include <algorithm>
#include <array>

namespace vestrel::wire {

namespace {

constexpr LinkTypeName kLinkTypeNames[] = {
    {LinkType::Ethernet, "ethernet"}, {LinkType::Vlan, "vlan"},         {LinkType::QinQ, "qinq"},
    {LinkType::LinuxCooked, "sll"},   {LinkType::LinuxCooked2, "sll2"}, {LinkType::BsdNull, "null"},
    {LinkType::BsdLoop, "loop"},      {LinkType::RawIp, "raw"},         {LinkType::Ipv4, "ipv4"},
};

// File link type numbers, as registered for pcap and pcapng alike.
constexpr uint16_t kLinkNull = 0;
constexpr uint16_t kLinkEthernet = 1;
constexpr uint16_t kLinkRaw = 101;
constexpr uint16_t kLinkLoop = 108;
constexpr uint16_t kLinkLinuxSll = 113;
constexpr uint16_t kLinkIpv4 = 228;
constexpr uint16_t kLinkLinuxSll2 = 276;

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeServiceVlan = 0x88A8;
constexpr uint16_t kInnerVlanId = 100;
constexpr uint16_t kOuterVlanId = 200;
constexpr uint32_t kAddressFamilyInet = 2;

// The client's own card and the next hop towards the server; both carry a
// real vendor prefix, as captured frames do.
constexpr std::array<uint8_t, 6> kClientMac = {0x3C, 0x52, 0x82, 0x1A, 0x7E, 0x05};
constexpr std::array<uint8_t, 6> kGatewayMac = {0x00, 0x1B, 0x21, 0x4C, 0x90, 0xD2};

// The Linux cooked header's packet types: sent by this host, or to it.
constexpr uint8_t kPacketToUs = 0;
constexpr uint8_t kPacketOutgoing = 4;
constexpr uint16_t kHardwareEthernet = 1;
constexpr uint32_t kInterfaceIndex = 2;

constexpr uint32_t kPcapMagicMicroseconds = 0xA1B2C3D4;
constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kInterfaceDescriptionBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;

Bytes mac(const std::array<uint8_t, 6>& address) { return Bytes(address.begin(), address.end()); }

const std::array<uint8_t, 6>& senderMac(bool fromClient) { return fromClient ? kClientMac : kGatewayMac; }

Bytes ethernetAddresses(bool fromClient) {
  return fromClient ? mac(kGatewayMac) + mac(kClientMac) : mac(kClientMac) + mac(kGatewayMac);
}

// A tag is its own type followed by the tag control word (priority 0).
Bytes vlanTag(uint16_t tagType, uint16_t vlanId) { return netWord(tagType) + netWord(vlanId); }

// The sender's address, padded to the eight bytes the cooked headers hold.
Bytes cookedAddress(bool fromClient) { return mac(senderMac(fromClient)) + fill(2, 0); }

uint8_t cookedPacketType(bool fromClient) { return fromClient ? kPacketOutgoing : kPacketToUs; }

Bytes linuxCookedHeader(bool fromClient) {
  return netWord(cookedPacketType(fromClient)) + netWord(kHardwareEthernet) + netWord(6) + cookedAddress(fromClient) +
         netWord(kEtherTypeIpv4);
}

Bytes linuxCooked2Header(bool fromClient) {
  return netWord(kEtherTypeIpv4) + netWord(0) + netDword(kInterfaceIndex) + netWord(kHardwareEthernet) +
         byte(cookedPacketType(fromClient)) + byte(6) + cookedAddress(fromClient);
}

Bytes qword(uint64_t value) { return dword(static_cast<uint32_t>(value)) + dword(static_cast<uint32_t>(value >> 32)); }

size_t paddedToWords(size_t length) { return (length + 3) / 4 * 4; }

}  // namespace

std::span<const LinkTypeName> linkTypeNames() { return kLinkTypeNames; }

std::optional<LinkType> findLinkType(std::string_view name) {
  for (const LinkTypeName& entry : kLinkTypeNames) {
    if (entry.name == name) return entry.type;
  }
  return std::nullopt;
}

std::string_view linkTypeName(LinkType type) {
  for (const LinkTypeName& entry : kLinkTypeNames) {
    if (entry.type == type) return entry.name;
  }
  return "?";
}

uint16_t fileLinkType(LinkType type) {
  switch (type) {
    case LinkType::Ethernet:
    case LinkType::Vlan:
    case LinkType::QinQ: return kLinkEthernet;
    case LinkType::LinuxCooked: return kLinkLinuxSll;
    case LinkType::LinuxCooked2: return kLinkLinuxSll2;
    case LinkType::BsdNull: return kLinkNull;
    case LinkType::BsdLoop: return kLinkLoop;
    case LinkType::RawIp: return kLinkRaw;
    case LinkType::Ipv4: return kLinkIpv4;
  }
  return kLinkEthernet;
}

std::optional<FileFormat> findFileFormat(std::string_view name) {
  if (name == "pcap") return FileFormat::Pcap;
  if (name == "pcapng") return FileFormat::Pcapng;
  return std::nullopt;
}

Bytes linkHeader(LinkType type, bool fromClient) {
  switch (type) {
    case LinkType::Ethernet: return ethernetAddresses(fromClient) + netWord(kEtherTypeIpv4);
    case LinkType::Vlan:
      return ethernetAddresses(fromClient) + vlanTag(kEtherTypeVlan, kInnerVlanId) + netWord(kEtherTypeIpv4);
    case LinkType::QinQ:
      return ethernetAddresses(fromClient) + vlanTag(kEtherTypeServiceVlan, kOuterVlanId) +
             vlanTag(kEtherTypeVlan, kInnerVlanId) + netWord(kEtherTypeIpv4);
    case LinkType::LinuxCooked: return linuxCookedHeader(fromClient);
    case LinkType::LinuxCooked2: return linuxCooked2Header(fromClient);
    case LinkType::BsdNull: return dword(kAddressFamilyInet);
    case LinkType::BsdLoop: return netDword(kAddressFamilyInet);
    case LinkType::RawIp:
    case LinkType::Ipv4: return {};
  }
  return {};
}

CaptureWriter::CaptureWriter(std::FILE* out, LinkType link, FileFormat format, uint32_t snapLength)
    : out_(out), link_(link), format_(format), snapLength_(snapLength) {}

bool CaptureWriter::writePacket(CaptureTime time, std::span<const uint8_t> ipPacket, bool fromClient) {
  if (!headerWritten_ && !writeFileHeader()) return false;
  return writeFrame(time, linkHeader(link_, fromClient) + Bytes(ipPacket.begin(), ipPacket.end()));
}

bool CaptureWriter::finish() {
  if (!headerWritten_) writeFileHeader();
  if (std::fflush(out_) != 0 || std::ferror(out_) != 0) good_ = false;
  return good_;
}

// Both formats are written little-endian; readers learn the order from the
// magic number.
bool CaptureWriter::writeFileHeader() {
  headerWritten_ = true;
  const uint16_t linkNumber = fileLinkType(link_);
  if (format_ == FileFormat::Pcap) {
    return put(dword(kPcapMagicMicroseconds) + word(2) + word(4) + dword(0) + dword(0) + dword(snapLength_) +
               dword(linkNumber));
  }
  // No options: the interface's timestamps are then in microseconds.
  constexpr uint32_t kSectionHeaderLength = 28;
  constexpr uint32_t kInterfaceLength = 20;
  const uint64_t unknownSectionLength = ~uint64_t{0};
  return put(dword(kSectionHeaderBlock) + dword(kSectionHeaderLength) + dword(kByteOrderMagic) + word(1) + word(0) +
             qword(unknownSectionLength) + dword(kSectionHeaderLength)) &&
         put(dword(kInterfaceDescriptionBlock) + dword(kInterfaceLength) + word(linkNumber) + word(0) +
             dword(snapLength_) + dword(kInterfaceLength));
}

bool CaptureWriter::writeFrame(CaptureTime time, const Bytes& frame) {
  const size_t captured = std::min<size_t>(frame.size(), snapLength_);
  const Bytes data = head(frame, captured);
  const auto sinceEpoch = static_cast<uint64_t>(time.time_since_epoch().count());
  if (format_ == FileFormat::Pcap) {
    constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;
    return put(dword(static_cast<uint32_t>(sinceEpoch / kMicrosecondsPerSecond)) +
               dword(static_cast<uint32_t>(sinceEpoch % kMicrosecondsPerSecond)) +
               dword(static_cast<uint32_t>(captured)) + dword(static_cast<uint32_t>(frame.size())) + data);
  }
  constexpr size_t kEnhancedPacketFixedLength = 32;
  const auto blockLength = static_cast<uint32_t>(kEnhancedPacketFixedLength + paddedToWords(captured));
  return put(dword(kEnhancedPacketBlock) + dword(blockLength) + dword(0) +
             dword(static_cast<uint32_t>(sinceEpoch >> 32)) + dword(static_cast<uint32_t>(sinceEpoch)) +
             dword(static_cast<uint32_t>(captured)) + dword(static_cast<uint32_t>(frame.size())) + data +
             fill(paddedToWords(captured) - captured, 0) + dword(blockLength));
}

// A failed write stays failed: later bytes would only make a broken file
// look whole.
bool CaptureWriter::put(const Bytes& bytes) {
  if (good_ && std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) good_ = false;
  return good_;
}

}  // namespace vestrel::wire
