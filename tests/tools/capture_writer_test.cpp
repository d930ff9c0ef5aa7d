// The capture writer, judged by libpcap: every link type in both formats,
// frames cut to a snapshot length, and write failures.
#include "capture_writer.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <ostream>
#include <set>

#include "capture_reading.h"
#include "protocol_messages.h"
#include "session_player.h"
#include "tcp_packets.h"

namespace vestrel::wire {
namespace {

using namespace std::chrono_literals;

struct LinkCase {
  LinkType link;
  const char* name;
  int datalink;
  uint16_t fileNumber;
  const char* clientHeader;  // hex, in front of a packet the client sent
  const char* serverHeader;
  const char* clientIpv6Header;  // in front of an IPv6 packet; none where refused
};

void PrintTo(const LinkCase& linkCase, std::ostream* out) { *out << linkCase.name; }

// The client's card is 3C:52:82:1A:7E:05, the gateway's 00:1B:21:4C:90:D2.
const LinkCase kLinkCases[] = {
    {LinkType::Ethernet, "ethernet", DLT_EN10MB, 1,
     "001B214C90D2"
     "3C52821A7E05"
     "0800",
     "3C52821A7E05"
     "001B214C90D2"
     "0800",
     "001B214C90D2"
     "3C52821A7E05"
     "86DD"},
    {LinkType::Vlan, "vlan", DLT_EN10MB, 1,
     "001B214C90D2"
     "3C52821A7E05"
     "8100"
     "0064"
     "0800",
     "3C52821A7E05"
     "001B214C90D2"
     "8100"
     "0064"
     "0800",
     "001B214C90D2"
     "3C52821A7E05"
     "8100"
     "0064"
     "86DD"},
    {LinkType::QinQ, "qinq", DLT_EN10MB, 1,
     "001B214C90D2"
     "3C52821A7E05"
     "88A8"
     "00C8"
     "8100"
     "0064"
     "0800",
     "3C52821A7E05"
     "001B214C90D2"
     "88A8"
     "00C8"
     "8100"
     "0064"
     "0800",
     "001B214C90D2"
     "3C52821A7E05"
     "88A8"
     "00C8"
     "8100"
     "0064"
     "86DD"},
    // Packet type (4 outgoing, 0 to us), ARPHRD_ETHER, address length,
    // sender's address padded to 8, protocol.
    {LinkType::LinuxCooked, "sll", DLT_LINUX_SLL, 113,
     "0004"
     "0001"
     "0006"
     "3C52821A7E05"
     "0000"
     "0800",
     "0000"
     "0001"
     "0006"
     "001B214C90D2"
     "0000"
     "0800",
     "0004"
     "0001"
     "0006"
     "3C52821A7E05"
     "0000"
     "86DD"},
    // Protocol, reserved, interface index, ARPHRD_ETHER, packet type, address
    // length, address padded to 8.
    {LinkType::LinuxCooked2, "sll2", DLT_LINUX_SLL2, 276,
     "0800"
     "0000"
     "00000002"
     "0001"
     "04"
     "06"
     "3C52821A7E05"
     "0000",
     "0800"
     "0000"
     "00000002"
     "0001"
     "00"
     "06"
     "001B214C90D2"
     "0000",
     "86DD"
     "0000"
     "00000002"
     "0001"
     "04"
     "06"
     "3C52821A7E05"
     "0000"},
    // AF_INET6 is 24 on the BSDs.
    {LinkType::BsdNull, "null", DLT_NULL, 0, "02000000", "02000000", "18000000"},
    {LinkType::BsdLoop, "loop", DLT_LOOP, 108, "00000002", "00000002", "00000018"},
    {LinkType::RawIp, "raw", DLT_RAW, 101, "", "", ""},
    {LinkType::Ipv4, "ipv4", DLT_IPV4, 228, "", "", nullptr},
};

const char* formatName(FileFormat format) { return format == FileFormat::Pcap ? "pcap" : "pcapng"; }

// Two packets of a real connection; their lengths (41 and 43) are no
// multiple of four, so pcapng must pad them.
struct TwoPackets {
  TcpPacket fromClient;
  TcpPacket fromServer;
};

TwoPackets twoPackets() {
  TcpConnection connection({{192, 0, 2, 10}, 50412}, {{198, 51, 100, 20}, 6112}, 1000, 5000);
  TcpPacket fromClient = connection.data(Side::Client, protocolByte());
  TcpPacket fromServer = connection.data(Side::Server, raw("abc"));
  return {fromClient, fromServer};
}

const CaptureTime kFirstTime = sessionStart() + 123456us;
const CaptureTime kSecondTime = sessionStart() + 59s + 999999us;

// Where the file header keeps the link type number.
uint16_t fileLinkNumber(const Bytes& file, FileFormat format) {
  const size_t at = format == FileFormat::Pcap ? 20 : 28 + 8;
  return static_cast<uint16_t>(file.at(at) | file.at(at + 1) << 8);
}

class LinkTypeTest : public testing::TestWithParam<std::tuple<LinkCase, FileFormat>> {};

TEST_P(LinkTypeTest, LibpcapReadsEveryFrameBackWhole) {
  const auto& [linkCase, format] = GetParam();
  const TwoPackets packets = twoPackets();
  const Bytes file = writtenBytes(linkCase.link, format, [&](CaptureWriter& writer) {
    return writer.writePacket(kFirstTime, packets.fromClient.bytes, true) &&
           writer.writePacket(kSecondTime, packets.fromServer.bytes, false);
  });
  EXPECT_EQ(fileLinkNumber(file, format), linkCase.fileNumber);
  EXPECT_EQ(fileLinkType(linkCase.link), linkCase.fileNumber);

  const CaptureFile capture = readCapture(file);
  EXPECT_EQ(capture.datalink, linkCase.datalink);
  EXPECT_EQ(capture.snapshot, 262144);
  ASSERT_EQ(capture.frames.size(), 2U);

  const Bytes expectedFirst = hexBytes(linkCase.clientHeader) + packets.fromClient.bytes;
  const Bytes expectedSecond = hexBytes(linkCase.serverHeader) + packets.fromServer.bytes;
  EXPECT_EQ(capture.frames[0].bytes, expectedFirst);
  EXPECT_EQ(capture.frames[1].bytes, expectedSecond);
  EXPECT_EQ(capture.frames[0].capturedLength, expectedFirst.size());
  EXPECT_EQ(capture.frames[0].length, expectedFirst.size());
  EXPECT_EQ(capture.frames[1].length, expectedSecond.size());

  EXPECT_EQ(capture.frames[0].time.tv_sec, 1796637600);
  EXPECT_EQ(capture.frames[0].time.tv_usec, 123456);
  EXPECT_EQ(capture.frames[1].time.tv_sec, 1796637659);
  EXPECT_EQ(capture.frames[1].time.tv_usec, 999999);
}

// An IPv6 packet goes out with the link's IPv6 type; a link for IPv4 alone
// refuses it and writes nothing.
TEST_P(LinkTypeTest, FramesIpv6PacketsOrRefusesThem) {
  const auto& [linkCase, format] = GetParam();
  TcpConnection connection({ipv6Address("FD000000000000000000000000000002"), 40002, IpVersion::V6},
                           {ipv6Address("FD000000000000000000000000000001"), 6112, IpVersion::V6}, 1000, 5000);
  const TcpPacket packet = connection.data(Side::Client, protocolByte());
  TemporaryFile file;
  CaptureWriter writer(file.get(), linkCase.link, format);
  const bool written = writer.writePacket(kFirstTime, packet.bytes, true);
  EXPECT_EQ(linkCarries(linkCase.link, IpVersion::V6), linkCase.clientIpv6Header != nullptr);
  if (linkCase.clientIpv6Header == nullptr) {
    EXPECT_FALSE(written);
    EXPECT_FALSE(writer.finish());
    return;
  }
  EXPECT_TRUE(written);
  EXPECT_TRUE(writer.finish());
  const CaptureFile capture = readCapture(file.contents());
  EXPECT_EQ(capture.datalink, linkCase.datalink);
  ASSERT_EQ(capture.frames.size(), 1U);
  EXPECT_EQ(capture.frames[0].bytes, hexBytes(linkCase.clientIpv6Header) + packet.bytes);
}

INSTANTIATE_TEST_SUITE_P(AllLinks, LinkTypeTest,
                         testing::Combine(testing::ValuesIn(kLinkCases),
                                          testing::Values(FileFormat::Pcap, FileFormat::Pcapng)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + formatName(std::get<1>(info.param));
                         });

TEST(LinkTypeNames, EveryTypeHasOneNameThatFindsIt) {
  std::set<LinkType> types;
  for (const LinkTypeName& entry : linkTypeNames()) {
    EXPECT_EQ(findLinkType(entry.name), entry.type) << entry.name;
    EXPECT_EQ(linkTypeName(entry.type), entry.name);
    types.insert(entry.type);
  }
  EXPECT_EQ(types.size(), std::size(kLinkCases));
  for (const LinkCase& linkCase : kLinkCases) EXPECT_EQ(findLinkType(linkCase.name), linkCase.link);
}

TEST(LinkTypeNames, UnknownNamesAndFormatsFindNothing) {
  for (const char* name : {"", "Ethernet", "eth", "sll3", "ethernet "}) EXPECT_FALSE(findLinkType(name)) << name;
  EXPECT_EQ(findFileFormat("pcap"), FileFormat::Pcap);
  EXPECT_EQ(findFileFormat("pcapng"), FileFormat::Pcapng);
  for (const char* name : {"", "PCAP", "pcap-ng", "ng"}) EXPECT_FALSE(findFileFormat(name)) << name;
}

struct SnapshotCase {
  FileFormat format;
  uint32_t snapLength;
};

class SnapshotTest : public testing::TestWithParam<SnapshotCase> {};

// Frames longer than the snapshot are cut and keep their length; shorter
// ones pass whole.
TEST_P(SnapshotTest, CutsLongFramesOnly) {
  const auto [format, snapLength] = GetParam();
  TcpConnection connection({{192, 0, 2, 10}, 50412}, {{198, 51, 100, 20}, 6112}, 1, 2);
  const TcpPacket shortPacket = connection.syn();  // 14 + 40 bytes
  const TcpPacket longPacket = connection.data(Side::Client, fill(100, 0xFF));
  const Bytes file = writtenBytes(
      LinkType::Ethernet, format,
      [&](CaptureWriter& writer) {
        return writer.writePacket(kFirstTime, shortPacket.bytes, true) &&
               writer.writePacket(kSecondTime, longPacket.bytes, true);
      },
      snapLength);

  const CaptureFile capture = readCapture(file);
  EXPECT_EQ(capture.snapshot, static_cast<int>(snapLength));
  ASSERT_EQ(capture.frames.size(), 2U);
  EXPECT_EQ(capture.frames[0].capturedLength, 54U);
  EXPECT_EQ(capture.frames[0].length, 54U);
  EXPECT_EQ(capture.frames[1].capturedLength, snapLength);
  EXPECT_EQ(capture.frames[1].length, 14U + 140U);
  EXPECT_EQ(capture.frames[1].bytes, head(linkHeader(LinkType::Ethernet, true) + longPacket.bytes, snapLength));
}

INSTANTIATE_TEST_SUITE_P(Formats, SnapshotTest,
                         testing::Values(SnapshotCase{FileFormat::Pcap, 54}, SnapshotCase{FileFormat::Pcap, 97},
                                         SnapshotCase{FileFormat::Pcapng, 54}, SnapshotCase{FileFormat::Pcapng, 97},
                                         SnapshotCase{FileFormat::Pcapng, 153}));

TEST(CaptureWriter, EmptyCaptureIsAValidFile) {
  for (const FileFormat format : {FileFormat::Pcap, FileFormat::Pcapng}) {
    const Bytes file = writtenBytes(LinkType::LinuxCooked2, format, [](CaptureWriter&) { return true; });
    const CaptureFile capture = readCapture(file);
    EXPECT_EQ(capture.datalink, DLT_LINUX_SLL2) << formatName(format);
    EXPECT_TRUE(capture.frames.empty());
  }
}

// A full device fails every write: unbuffered, the packet itself reports it;
// buffered, finish() does when the buffer is flushed.
TEST(CaptureWriter, ReportsAFullDevice) {
  for (const bool buffered : {false, true}) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    if (!buffered) {
      EXPECT_EQ(std::setvbuf(full, nullptr, _IONBF, 0), 0);
    }
    CaptureWriter writer(full, LinkType::Ethernet, FileFormat::Pcapng);
    const TwoPackets packets = twoPackets();
    const bool packetWritten = writer.writePacket(kFirstTime, packets.fromClient.bytes, true);
    if (!buffered) {
      EXPECT_FALSE(packetWritten);
    }
    EXPECT_FALSE(writer.finish()) << (buffered ? "buffered" : "unbuffered");
    // Once failed, always failed.
    EXPECT_FALSE(writer.writePacket(kSecondTime, packets.fromServer.bytes, false));
    static_cast<void>(std::fclose(full));  // fails too, as checked above
  }
}

}  // namespace
}  // namespace vestrel::wire
