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
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeServiceVlan = 0x88A8;
constexpr uint16_t kInnerVlanId = 100;
constexpr uint16_t kOuterVlanId = 200;
constexpr uint32_t kAddressFamilyInet = 2;
// AF_INET6 as the BSDs number it; loopback captures store that number.
constexpr uint32_t kAddressFamilyInet6 = 24;

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

uint16_t etherType(IpVersion version) { return version == IpVersion::V6 ? kEtherTypeIpv6 : kEtherTypeIpv4; }

uint32_t addressFamily(IpVersion version) {
  return version == IpVersion::V6 ? kAddressFamilyInet6 : kAddressFamilyInet;
}

Bytes linuxCookedHeader(bool fromClient, uint16_t protocol) {
  return netWord(cookedPacketType(fromClient)) + netWord(kHardwareEthernet) + netWord(6) + cookedAddress(fromClient) +
         netWord(protocol);
}

Bytes linuxCooked2Header(bool fromClient, uint16_t protocol) {
  return netWord(protocol) + netWord(0) + netDword(kInterfaceIndex) + netWord(kHardwareEthernet) +
         byte(cookedPacketType(fromClient)) + byte(6) + cookedAddress(fromClient);
}

Bytes qword(uint64_t value) { return dword(static_cast<uint32_t>(value)) + dword(static_cast<uint32_t>(value >> 32)); }

size_t paddedToWords(size_t length) { return (length + 3) / 4 * 4; }

void putDword(Bytes& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

size_t headerIndex(IpVersion version, bool fromClient) {
  return (version == IpVersion::V6 ? 2 : 0) + (fromClient ? 1 : 0);
}

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

bool linkCarries(LinkType type, IpVersion version) { return type != LinkType::Ipv4 || version == IpVersion::V4; }

Bytes linkHeader(LinkType type, bool fromClient, IpVersion version) {
  const uint16_t protocol = etherType(version);
  switch (type) {
    case LinkType::Ethernet: return ethernetAddresses(fromClient) + netWord(protocol);
    case LinkType::Vlan:
      return ethernetAddresses(fromClient) + vlanTag(kEtherTypeVlan, kInnerVlanId) + netWord(protocol);
    case LinkType::QinQ:
      return ethernetAddresses(fromClient) + vlanTag(kEtherTypeServiceVlan, kOuterVlanId) +
             vlanTag(kEtherTypeVlan, kInnerVlanId) + netWord(protocol);
    case LinkType::LinuxCooked: return linuxCookedHeader(fromClient, protocol);
    case LinkType::LinuxCooked2: return linuxCooked2Header(fromClient, protocol);
    case LinkType::BsdNull: return dword(addressFamily(version));
    case LinkType::BsdLoop: return netDword(addressFamily(version));
    case LinkType::RawIp:
    case LinkType::Ipv4: return {};
  }
  return {};
}

CaptureWriter::CaptureWriter(std::FILE* out, LinkType link, FileFormat format, uint32_t snapLength)
    : out_(out), link_(link), format_(format), snapLength_(snapLength) {
  // Both link headers of each IP version, made once: a capture may hold
  // millions of frames.
  for (const IpVersion version : {IpVersion::V4, IpVersion::V6}) {
    for (const bool fromClient : {false, true})
      linkHeaders_[headerIndex(version, fromClient)] = linkHeader(link, fromClient, version);
  }
}

bool CaptureWriter::writePacket(CaptureTime time, std::span<const uint8_t> ipPacket, bool fromClient) {
  const IpVersion version = ipVersionOf(ipPacket);
  if (!linkCarries(link_, version)) good_ = false;
  if (!good_ || (!headerWritten_ && !writeFileHeader())) return false;
  return writeFrame(time, linkHeaders_[headerIndex(version, fromClient)], ipPacket);
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

bool CaptureWriter::writeFrame(CaptureTime time, std::span<const uint8_t> linkHeader,
                               std::span<const uint8_t> ipPacket) {
  const size_t length = linkHeader.size() + ipPacket.size();
  const size_t captured = std::min<size_t>(length, snapLength_);
  const auto sinceEpoch = static_cast<uint64_t>(time.time_since_epoch().count());
  record_.clear();
  if (format_ == FileFormat::Pcap) {
    constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;
    putDword(record_, static_cast<uint32_t>(sinceEpoch / kMicrosecondsPerSecond));
    putDword(record_, static_cast<uint32_t>(sinceEpoch % kMicrosecondsPerSecond));
  } else {
    constexpr size_t kEnhancedPacketFixedLength = 32;
    const auto blockLength = static_cast<uint32_t>(kEnhancedPacketFixedLength + paddedToWords(captured));
    putDword(record_, kEnhancedPacketBlock);
    putDword(record_, blockLength);
    putDword(record_, 0);  // the one interface
    putDword(record_, static_cast<uint32_t>(sinceEpoch >> 32));
    putDword(record_, static_cast<uint32_t>(sinceEpoch));
  }
  putDword(record_, static_cast<uint32_t>(captured));
  putDword(record_, static_cast<uint32_t>(length));
  const size_t fromHeader = std::min(captured, linkHeader.size());
  record_.insert(record_.end(), linkHeader.begin(), linkHeader.begin() + static_cast<std::ptrdiff_t>(fromHeader));
  record_.insert(record_.end(), ipPacket.begin(),
                 ipPacket.begin() + static_cast<std::ptrdiff_t>(captured - fromHeader));
  if (format_ == FileFormat::Pcapng) {
    record_.insert(record_.end(), paddedToWords(captured) - captured, 0);
    putDword(record_, static_cast<uint32_t>(record_.size() + 4));
  }
  return put(record_);
}

// A failed write stays failed: later bytes would only make a broken file
// look whole.
bool CaptureWriter::put(std::span<const uint8_t> bytes) {
  if (good_ && std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) good_ = false;
  return good_;
}

}  // namespace vestrel::wire
