// Frames of every link layer the program reads: the IPv4 or IPv6 TCP segment
// is found behind each header, and frames of other protocols or cut inside
// their link header are passed over.
#include <gtest/gtest.h>

#include <pcap/pcap.h>
#include <optional>

#include <algorithm>

#include "stream/link_layer.h"
#include "stream/segment_handler.h"
#include "test_support.h"

namespace vestrel {
namespace {

using test::byte;
using test::Bytes;
using test::dword;
using test::fill;
using test::head;
using test::msg;
using test::tail;
using test::tcpFrame;

constexpr uint16_t kClientPort = 40000;
const Bytes kPing = msg(0x25, dword(0x1234));

// An IPv4 packet holding a TCP segment to the chat port with a ping.
Bytes ipv4Packet(test::FrameShape shape = {}) {
  return tail(tcpFrame(kClientPort, kBncsPort, kPing, shape), test::kEthernetHeaderBytes);
}

// An IPv6 packet to the chat port. Byte 9 of its header (inside the source
// address) is 6, so only its version tells it from an IPv4 TCP packet.
Bytes ipv6Packet() {
  Bytes header = fill(40, 0x00);
  header[0] = 0x60;
  header[5] = 20 + static_cast<uint8_t>(kPing.size());
  header[6] = 6;  // next header: TCP
  header[9] = 6;
  return header + tail(ipv4Packet(), 20);
}

Bytes be16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }
Bytes be32(uint32_t value) { return be16(static_cast<uint16_t>(value >> 16)) + be16(static_cast<uint16_t>(value)); }

Bytes ethernet(const Bytes& tagsAndType) { return fill(12, 0xAA) + tagsAndType; }
Bytes tag(uint16_t tpid, uint16_t vlan) { return be16(tpid) + be16(vlan); }

// Linux cooked v1: packet type, ARPHRD, address length, 8 address bytes,
// then the protocol.
Bytes cooked(uint16_t protocol) { return be16(4) + be16(1) + be16(6) + fill(8, 0xAA) + be16(protocol); }
// Linux cooked v2: protocol, reserved, interface, ARPHRD, packet type,
// address length, 8 address bytes.
Bytes cooked2(uint16_t protocol) {
  return be16(protocol) + be16(0) + be32(1) + be16(1) + byte(4) + byte(6) + fill(8, 0xAA);
}

struct LinkCase {
  const char* name;
  LinkLayer linkLayer;
  Bytes frame;
  bool found;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.name; }

class LinkLayerFrame : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkLayerFrame, FindsTheSegmentBehindTheLinkHeader) {
  const auto segment = findTcpSegment(GetParam().linkLayer, GetParam().frame);
  ASSERT_EQ(segment.has_value(), GetParam().found);
  if (!segment) return;
  EXPECT_EQ(segment->sourcePort, kClientPort);
  EXPECT_EQ(segment->destinationPort, kBncsPort);
  EXPECT_EQ(Bytes(segment->payload.begin(), segment->payload.end()), kPing);
  EXPECT_FALSE(segment->cutShort);
}

const Bytes kIpv4 = ipv4Packet();
const Bytes kIpv6 = ipv6Packet();

INSTANTIATE_TEST_SUITE_P(
    Frames, LinkLayerFrame,
    ::testing::Values(
        LinkCase{"Ethernet", LinkLayer::Ethernet, ethernet(be16(0x0800)) + kIpv4, true},
        LinkCase{"Ethernet8021Q", LinkLayer::Ethernet, ethernet(tag(0x8100, 12) + be16(0x0800)) + kIpv4, true},
        LinkCase{"Ethernet8021ad", LinkLayer::Ethernet,
                 ethernet(tag(0x88A8, 100) + tag(0x8100, 12) + be16(0x0800)) + kIpv4, true},
        LinkCase{"EthernetThreeTags", LinkLayer::Ethernet,
                 ethernet(tag(0x9100, 1) + tag(0x88A8, 2) + tag(0x8100, 3) + be16(0x0800)) + kIpv4, true},
        LinkCase{"EthernetIpv6", LinkLayer::Ethernet, ethernet(be16(0x86DD)) + kIpv6, true},
        LinkCase{"EthernetIpv6LabelledIpv4", LinkLayer::Ethernet, ethernet(be16(0x0800)) + kIpv6, false},
        LinkCase{"EthernetIpv4LabelledIpv6", LinkLayer::Ethernet, ethernet(be16(0x86DD)) + kIpv4, false},
        LinkCase{"EthernetIpv6BehindTag", LinkLayer::Ethernet, ethernet(tag(0x8100, 12) + be16(0x86DD)) + kIpv6, true},
        LinkCase{"EthernetArp", LinkLayer::Ethernet, ethernet(be16(0x0806)) + kIpv4, false},
        LinkCase{"EthernetEndsInsideTag", LinkLayer::Ethernet, ethernet(tag(0x8100, 12)) + byte(0x08), false},
        LinkCase{"EthernetEndsAfterTags", LinkLayer::Ethernet, ethernet(tag(0x8100, 12) + tag(0x8100, 12)), false},
        LinkCase{"EthernetShorterThanHeader", LinkLayer::Ethernet, fill(13, 0x08), false},
        LinkCase{"EthernetIpVersion5", LinkLayer::Ethernet, ethernet(be16(0x0800)) + byte(0x55) + tail(kIpv4, 1),
                 false},
        LinkCase{"Cooked", LinkLayer::LinuxCooked, cooked(0x0800) + kIpv4, true},
        LinkCase{"CookedTagged", LinkLayer::LinuxCooked,
                 head(cooked(0x8100), 14) + tag(0x8100, 7) + be16(0x0800) + kIpv4, true},
        LinkCase{"CookedIpv6", LinkLayer::LinuxCooked, cooked(0x86DD) + kIpv6, true},
        LinkCase{"CookedHeaderCut", LinkLayer::LinuxCooked, head(cooked(0x0800), 15), false},
        LinkCase{"Cooked2", LinkLayer::LinuxCooked2, cooked2(0x0800) + kIpv4, true},
        LinkCase{"Cooked2Ipv6", LinkLayer::LinuxCooked2, cooked2(0x86DD) + kIpv6, true},
        LinkCase{"Cooked2HeaderCut", LinkLayer::LinuxCooked2, head(cooked2(0x0800), 19), false},
        LinkCase{"Cooked2ReadAsCooked", LinkLayer::LinuxCooked, cooked2(0x0800) + kIpv4, false},
        LinkCase{"NullLittleEndian", LinkLayer::BsdLoopback, dword(2) + kIpv4, true},
        LinkCase{"NullBigEndian", LinkLayer::BsdLoopback, be32(2) + kIpv4, true},
        LinkCase{"NullIpv6Bsd", LinkLayer::BsdLoopback, dword(24) + kIpv6, true},
        LinkCase{"NullIpv6Darwin", LinkLayer::BsdLoopback, dword(30) + kIpv6, true},
        LinkCase{"NullIpv6FreeBsdBigEndian", LinkLayer::BsdLoopback, be32(28) + kIpv6, true},
        LinkCase{"NullUnknownFamily", LinkLayer::BsdLoopback, dword(23) + kIpv6, false},
        LinkCase{"NullHeaderCut", LinkLayer::BsdLoopback, head(dword(2), 3), false},
        LinkCase{"Loop", LinkLayer::BsdLoopbackLoop, be32(2) + kIpv4, true},
        LinkCase{"LoopLittleEndianIsNotInet", LinkLayer::BsdLoopbackLoop, dword(2) + kIpv4, false},
        LinkCase{"LoopIpv6", LinkLayer::BsdLoopbackLoop, be32(24) + kIpv6, true},
        LinkCase{"LoopIpv6LittleEndian", LinkLayer::BsdLoopbackLoop, dword(24) + kIpv6, false},
        LinkCase{"Raw", LinkLayer::RawIp, kIpv4, true}, LinkCase{"RawIpv6", LinkLayer::RawIp, kIpv6, true},
        LinkCase{"Ipv4", LinkLayer::Ipv4, kIpv4, true}, LinkCase{"Ipv4ButVersion6", LinkLayer::Ipv4, kIpv6, false},
        LinkCase{"RawEmpty", LinkLayer::RawIp, Bytes{}, false}, LinkCase{"Ipv6", LinkLayer::Ipv6, kIpv6, true},
        LinkCase{"Ipv6ButVersion4", LinkLayer::Ipv6, kIpv4, false},
        LinkCase{"FirstFragment", LinkLayer::RawIp, ipv4Packet({.fragment = 0x2000}), true},
        LinkCase{"LaterFragment", LinkLayer::RawIp, ipv4Packet({.fragment = 0x0001}), false},
        LinkCase{"LaterFragmentDontFragmentSet", LinkLayer::RawIp, ipv4Packet({.fragment = 0x4010}), false}),
    [](const auto& info) { return std::string(info.param.name); });

struct DatalinkCase {
  int datalink;
  std::optional<LinkLayer> linkLayer;
};

TEST(LinkLayerFor, ReadsTheSupportedLinkTypesOnly) {
  const DatalinkCase cases[] = {
      {DLT_EN10MB, LinkLayer::Ethernet},
      {DLT_LINUX_SLL, LinkLayer::LinuxCooked},
      {DLT_LINUX_SLL2, LinkLayer::LinuxCooked2},
      {DLT_NULL, LinkLayer::BsdLoopback},
      {DLT_LOOP, LinkLayer::BsdLoopbackLoop},
      {DLT_RAW, LinkLayer::RawIp},
      {DLT_IPV4, LinkLayer::Ipv4},
      {DLT_IPV6, std::nullopt},
      {DLT_IEEE802_11, std::nullopt},
      {DLT_PPP, std::nullopt},
      {-1, std::nullopt},
  };
  for (const DatalinkCase& c : cases) {
    EXPECT_EQ(linkLayerFor(c.datalink), c.linkLayer) << "link type " << c.datalink;
  }
}

TEST(LinkLayerForAnyIp, AddsTheIpv6OnlyLinkType) {
  EXPECT_EQ(linkLayerForAnyIp(DLT_IPV6), LinkLayer::Ipv6);
  EXPECT_EQ(linkLayerForAnyIp(DLT_NULL), LinkLayer::BsdLoopback);
  EXPECT_EQ(linkLayerForAnyIp(DLT_PPP), std::nullopt);
}

constexpr uint8_t kTcp = 6;

// A TCP header from the client to the chat port, without options.
Bytes tcpHeader(uint32_t sequence = 0, uint8_t flags = 0) {
  return be16(kClientPort) + be16(kBncsPort) + be32(sequence) + be32(0) + byte(0x50) + byte(flags) + be16(0xFFFF) +
         be32(0);
}

const Bytes kTcpPing = tcpHeader() + kPing;

// An IPv6 packet whose length field counts its payload, give or take
// lengthAdjust.
Bytes ipv6(uint8_t next, const Bytes& payload, int lengthAdjust = 0, const Bytes& source = fill(16, 0x11),
           const Bytes& destination = fill(16, 0x22)) {
  const auto length = static_cast<uint16_t>(static_cast<int>(payload.size()) + lengthAdjust);
  return be32(0x60000000) + be16(length) + byte(next) + byte(64) + source + destination + payload;
}

// An extension header with the given length field and true length.
Bytes extension(uint8_t next, uint8_t lengthField, size_t length) {
  return byte(next) + byte(lengthField) + fill(length - 2, 0x00);
}
Bytes fragment(uint8_t next, uint16_t offsetAndFlags) {
  return byte(next) + byte(0) + be16(offsetAndFlags) + be32(0xCAFE);
}
Bytes destinationOptions(size_t count) {
  Bytes chain;
  for (size_t i = 1; i <= count; ++i) chain = chain + extension(i == count ? kTcp : 60, 0, 8);
  return chain;
}

Bytes withoutLength(Bytes packet) {
  packet[4] = packet[5] = 0;
  return packet;
}

struct Ipv6Case {
  const char* name;
  Bytes packet;
  bool found;
  Bytes payload;
  bool cutShort;
};

TEST(Ipv6Segment, StepsOverExtensionHeadersAndKeepsToTheLength) {
  const Ipv6Case cases[] = {
      {"Plain", ipv6(kTcp, kTcpPing), true, kPing, false},
      {"HopByHopThenDestinationOptions", ipv6(0, extension(60, 0, 8) + extension(kTcp, 1, 16) + kTcpPing), true, kPing,
       false},
      {"RoutingThenAuthentication", ipv6(43, extension(51, 1, 16) + extension(kTcp, 4, 24) + kTcpPing), true, kPing,
       false},
      {"FirstFragment", ipv6(44, fragment(kTcp, 0x0001) + kTcpPing), true, kPing, false},
      {"LaterFragment", ipv6(44, fragment(kTcp, 0x0008) + kTcpPing), false, {}, false},
      {"Esp", ipv6(50, fill(8, 0) + kTcpPing), false, {}, false},
      {"NoNextHeader", ipv6(59, kTcpPing), false, {}, false},
      {"Udp", ipv6(17, kTcpPing), false, {}, false},
      {"EightExtensionHeaders", ipv6(60, destinationOptions(8) + kTcpPing), true, kPing, false},
      {"NineExtensionHeaders", ipv6(60, destinationOptions(9) + kTcpPing), false, {}, false},
      {"ExtensionHeaderCut", head(ipv6(60, extension(kTcp, 1, 16) + kTcpPing), 40 + 10), false, {}, false},
      {"FixedHeaderCut", head(ipv6(kTcp, kTcpPing), 39), false, {}, false},
      {"LengthBeyondCapture", ipv6(kTcp, kTcpPing, 5), true, kPing, true},
      {"LengthShortOfCapture", ipv6(kTcp, kTcpPing, -2), true, head(kPing, kPing.size() - 2), false},
      {"Jumbogram", withoutLength(ipv6(0, extension(kTcp, 0, 8) + kTcpPing)), false, {}, false},
  };
  for (const Ipv6Case& c : cases) {
    const auto segment = findTcpSegment(LinkLayer::Ipv6, c.packet);
    ASSERT_EQ(segment.has_value(), c.found) << c.name;
    if (!segment) continue;
    EXPECT_EQ(Bytes(segment->payload.begin(), segment->payload.end()), c.payload) << c.name;
    EXPECT_EQ(segment->cutShort, c.cutShort) << c.name;
  }
}

IpAddress address(const Bytes& octets) {
  IpAddress address;
  address.v6 = octets.size() == 16;
  std::ranges::copy(octets, address.bytes.begin());
  return address;
}

Bytes ipv4(const Bytes& source, const Bytes& destination, const Bytes& payload) {
  return byte(0x45) + byte(0) + be16(static_cast<uint16_t>(20 + payload.size())) + be32(0) + byte(64) + byte(kTcp) +
         be16(0) + source + destination + payload;
}

TEST(TcpSegmentFields, ReadsAddressesSequenceAndFlags) {
  const Bytes v4Source{192, 0, 2, 1};
  const Bytes v4Destination{198, 51, 100, 7};
  const Bytes v6Source = Bytes{0x20, 0x01, 0x0D, 0xB8} + fill(11, 0) + byte(1);
  const Bytes v6Destination = Bytes{0xFE, 0x80} + fill(13, 0) + byte(0x2A);
  struct Case {
    Bytes packet;
    Bytes source;
    Bytes destination;
    uint32_t sequence;
    uint8_t flags;
  } const cases[] = {
      {ipv4(v4Source, v4Destination, tcpHeader(0x89ABCDEF, kTcpSyn | kTcpAck)), v4Source, v4Destination, 0x89ABCDEF,
       kTcpSyn | kTcpAck},
      {ipv6(kTcp, tcpHeader(0x01234567, kTcpFin | kTcpRst | 0x08), 0, v6Source, v6Destination), v6Source, v6Destination,
       0x01234567, kTcpFin | kTcpRst | 0x08},
  };
  for (const Case& c : cases) {
    const auto segment = findTcpSegment(LinkLayer::RawIp, c.packet);
    ASSERT_TRUE(segment.has_value());
    EXPECT_EQ(segment->source, address(c.source));
    EXPECT_EQ(segment->destination, address(c.destination));
    EXPECT_EQ(Bytes(segment->source.octets().begin(), segment->source.octets().end()), c.source);
    EXPECT_EQ(segment->isIpv6(), c.source.size() == 16);
    EXPECT_EQ(segment->sourcePort, kClientPort);
    EXPECT_EQ(segment->destinationPort, kBncsPort);
    EXPECT_EQ(segment->sequence, c.sequence);
    EXPECT_EQ(segment->flags, c.flags);
    EXPECT_EQ(segment->has(kTcpSyn), (c.flags & kTcpSyn) != 0);
  }
}

// A SYN's options up to its header length: the window scale option, found
// among others, capped at 14, and nothing read past the header.
TEST(TcpSegmentFields, WindowScaleOfASyn) {
  const Bytes v4{127, 0, 0, 1};
  const auto withOptions = [&](uint8_t flags, const Bytes& options) {
    Bytes header = be16(kClientPort) + be16(kBncsPort) + be32(1) + be32(0xA5A5A5A5) +
                   byte(static_cast<uint8_t>((20 + options.size()) / 4 << 4)) + byte(flags) + be16(0x1234) + be32(0);
    return findTcpSegment(LinkLayer::RawIp, ipv4(v4, v4, header + options));
  };
  const Bytes mss = Bytes{2, 4, 0x05, 0xB4};
  struct Case {
    uint8_t flags;
    Bytes options;
    std::optional<uint8_t> shift;
  } const cases[] = {
      {kTcpSyn, mss + Bytes{1, 3, 3, 7}, 7}, {kTcpSyn, Bytes{3, 3, 20, 0}, 14}, {kTcpSyn, mss + Bytes{0, 3, 3, 7}, {}},
      {kTcpSyn, Bytes{1, 1, 1, 3}, {}},      {kTcpAck, Bytes{3, 3, 7, 0}, {}},
  };
  for (const Case& c : cases) {
    const auto segment = withOptions(c.flags, c.options);
    ASSERT_TRUE(segment.has_value());
    EXPECT_EQ(segment->windowShift, c.shift);
    EXPECT_EQ(segment->acknowledgement, 0xA5A5A5A5U);
    EXPECT_EQ(segment->window, 0x1234);
  }
}

// A segment a network card was left to cut (TSO) is captured with a total
// length of 0: the frame holds its payload.
TEST(TcpSegmentFields, TotalLengthZeroTakesThePayloadFromTheFrame) {
  const Bytes packet = ipv4Packet({.overrideTotal = true, .totalLength = 0});
  const auto segment = findTcpSegment(LinkLayer::RawIp, packet);
  ASSERT_TRUE(segment.has_value());
  EXPECT_EQ(Bytes(segment->payload.begin(), segment->payload.end()), kPing);
  EXPECT_TRUE(segment->lengthFromFrame);
}

TEST(HandleSegment, ReadsFramesByTheMonitorsLinkLayer) {
  const Bytes frame = cooked2(0x0800) + kIpv4;
  OutputSettings options;
  test::ConsoleCapture ethernetOutput;
  Monitor ethernetMonitor(options);
  handleSegment(ethernetMonitor, frame);
  EXPECT_EQ(ethernetOutput.text(), "");

  test::ConsoleCapture cookedOutput;
  Monitor cookedMonitor(options);
  cookedMonitor.linkLayer = LinkLayer::LinuxCooked2;
  handleSegment(cookedMonitor, frame);
  EXPECT_EQ(cookedOutput.text(), "Sent -> [0x25] SID_PING             -> Ping value: 0x1234\n");
}

// A snapshot length that cuts payload is counted (it leaves a gap in the
// stream); padding after the packet and other ports are not.
TEST(HandleSegment, CountsChatSegmentsCutByTheSnapshotLength) {
  const Bytes whole = ethernet(be16(0x0800)) + kIpv4;
  struct Case {
    const char* name;
    Bytes frame;
    uint64_t cut;
  } const cases[] = {
      {"whole", whole, 0},
      {"padded", whole + fill(6, 0), 0},
      {"payloadCut", head(whole, whole.size() - 1), 1},
      {"onlyHeaders", head(whole, 14 + 40), 1},
      {"insideTheTcpHeader", head(whole, 14 + 20 + 10), 1},
      {"otherPortCut", head(tcpFrame(80, 443, kPing), whole.size() - 1), 0},
  };
  for (const Case& c : cases) {
    test::ConsoleCapture output;
    OutputSettings options;
    Monitor monitor(options);
    handleSegment(monitor, c.frame);
    EXPECT_EQ(monitor.cutSegments, c.cut) << c.name;
  }
}

}  // namespace
}  // namespace vestrel
