// One connection's packets: flags, sequence and acknowledgement numbers
// through its whole life, IP header fields, and checksums that verify.
#include "tcp_packets.h"

#include <gtest/gtest.h>

#include "capture_reading.h"
#include "protocol_messages.h"

namespace vestrel::wire {
namespace {

constexpr Endpoint kClient{{192, 0, 2, 10}, 50412};
constexpr Endpoint kServer{{198, 51, 100, 20}, 6112};
constexpr uint32_t kClientStart = 0xFFFFFFF0;  // wraps during the connection
constexpr uint32_t kServerStart = 0x00001000;

// The textbook example of a ones'-complement sum, and a real IP header whose
// checksum field is zero (its checksum is 0xB861).
TEST(OnesComplementSum, KnownSums) {
  EXPECT_EQ(onesComplementSum(hexBytes("0001F203F4F5F6F7")), 0xDDF2);
  EXPECT_EQ(onesComplementSum(hexBytes("4500007300004000401100"
                                       "00C0A80001C0A800C7")),
            0xFFFF - 0xB861);
  // An odd last byte is the high half of its word; a start value is added.
  EXPECT_EQ(onesComplementSum(hexBytes("0102AB")), 0xAC02);
  EXPECT_EQ(onesComplementSum(hexBytes("FFFF"), 0x0001), 0x0001);
  EXPECT_EQ(onesComplementSum({}), 0);
}

struct LifeStep {
  const char* name;
  Side from;
  uint8_t flags;
  uint32_t sequence;      // from the sender's initial sequence number
  uint32_t acknowledged;  // from the receiver's; unused without ACK
  size_t payload;
};

// Handshake, data both ways (odd lengths), a pure ACK, and the close.
constexpr LifeStep kLife[] = {
    {"syn", Side::Client, kSyn, 0, 0, 0},
    {"syn-ack", Side::Server, kSyn | kAck, 0, 1, 0},
    {"ack", Side::Client, kAck, 1, 1, 0},
    {"client data", Side::Client, kPush | kAck, 1, 1, 59},
    {"server data", Side::Server, kPush | kAck, 1, 60, 7},
    {"more server data", Side::Server, kPush | kAck, 8, 60, 1},
    // One below the next sequence number, the last byte again.
    {"server keep-alive", Side::Server, kAck, 8, 60, 1},
    {"client ack", Side::Client, kAck, 60, 9, 0},
    {"client fin", Side::Client, kFin | kAck, 60, 9, 0},
    {"server fin", Side::Server, kFin | kAck, 9, 61, 0},
    {"last ack", Side::Client, kAck, 61, 10, 0},
    // Data on an RST takes no sequence number: a second one stands there too.
    {"client reset with data", Side::Client, kRst | kAck, 61, 10, 3},
    {"client reset", Side::Client, kRst | kAck, 61, 10, 0},
};

std::vector<TcpPacket> livedConnection() {
  TcpConnection connection(kClient, kServer, kClientStart, kServerStart);
  return {
      connection.syn(),
      connection.synAck(),
      connection.handshakeAck(),
      connection.data(Side::Client, fill(59, 0xA5)),
      connection.data(Side::Server, raw("0123456")),
      connection.data(Side::Server, byte(0xFF)),
      connection.keepAlive(Side::Server),
      connection.ack(Side::Client),
      connection.fin(Side::Client),
      connection.fin(Side::Server),
      connection.ack(Side::Client),
      connection.reset(Side::Client, raw("rst")),
      connection.reset(Side::Client),
  };
}

TEST(TcpConnection, SequenceAndAcknowledgementThroughAWholeConnection) {
  const std::vector<TcpPacket> packets = livedConnection();
  ASSERT_EQ(packets.size(), std::size(kLife));
  for (size_t index = 0; index < packets.size(); ++index) {
    const LifeStep& step = kLife[index];
    SCOPED_TRACE(step.name);
    EXPECT_EQ(packets[index].from, step.from);
    const auto segment = parseTcpPacket(packets[index].bytes);
    ASSERT_TRUE(segment);
    const bool fromClient = step.from == Side::Client;
    EXPECT_EQ(segment->flags, step.flags);
    EXPECT_EQ(segment->sequence, (fromClient ? kClientStart : kServerStart) + step.sequence);
    const uint32_t acknowledged =
        (step.flags & kAck) != 0 ? (fromClient ? kServerStart : kClientStart) + step.acknowledged : 0;
    EXPECT_EQ(segment->acknowledged, acknowledged);
    EXPECT_EQ(segment->payload.size(), step.payload);
    EXPECT_EQ(segment->sourcePort, fromClient ? 50412 : 6112);
    EXPECT_EQ(segment->destinationPort, fromClient ? 6112 : 50412);
    EXPECT_EQ(segment->source, fromClient ? 0xC000020AU : 0xC6336414U);
    EXPECT_EQ(segment->destination, fromClient ? 0xC6336414U : 0xC000020AU);
    EXPECT_TRUE(segment->ipChecksumGood);
    EXPECT_TRUE(segment->tcpChecksumGood);
  }
}

// Version 4, 20-byte header, total length, DF, TTL 64, TCP; each side's ids
// count up by one.
TEST(TcpConnection, IpHeadersAreThoseOfARealStack) {
  const std::vector<TcpPacket> packets = livedConnection();
  std::optional<uint16_t> lastId[2];
  for (const TcpPacket& packet : packets) {
    const Bytes& ip = packet.bytes;
    ASSERT_GE(ip.size(), 40U);
    EXPECT_EQ(ip[0], 0x45);
    EXPECT_EQ(size_t{ip[2]} << 8 | ip[3], ip.size());
    EXPECT_EQ(ip[6], 0x40);
    EXPECT_EQ(ip[7], 0x00);
    EXPECT_EQ(ip[8], 64);
    EXPECT_EQ(ip[9], 6);
    EXPECT_EQ(ip[32] >> 4, 5) << "TCP header of 20 bytes";
    const uint16_t id = static_cast<uint16_t>(ip[4] << 8 | ip[5]);
    std::optional<uint16_t>& last = lastId[packet.from == Side::Client ? 0 : 1];
    if (last) {
      EXPECT_EQ(id, static_cast<uint16_t>(*last + 1));
    }
    last = id;
  }
}

const Endpoint kClient6{ipv6Address("FD000000000000000000000000000005"), 40013, IpVersion::V6};
const Endpoint kServer6{ipv6Address("FD000000000000000000000000000001"), 6112, IpVersion::V6};

TEST(TcpConnection, KeepAliveCarriesTheLastByteSent) {
  const std::vector<TcpPacket> packets = livedConnection();
  const auto probe = parseTcpPacket(packets[6].bytes);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->payload, byte(0xFF));
}

// Version 6, payload length, next header TCP, hop limit 64, the addresses;
// the TCP checksum over the IPv6 pseudo-header.
TEST(TcpConnection, Ipv6PacketsHaveTheirOwnHeader) {
  TcpConnection connection(kClient6, kServer6, kClientStart, kServerStart);
  connection.syn();
  connection.synAck();
  const Bytes packet = connection.data(Side::Server, raw("hello")).bytes;
  ASSERT_EQ(packet.size(), 65U);
  EXPECT_EQ(head(packet, 8), hexBytes("6000000000190640"));
  EXPECT_EQ(slice(packet, 8, 24), Bytes(kServer6.address.begin(), kServer6.address.end()));
  EXPECT_EQ(slice(packet, 24, 40), Bytes(kClient6.address.begin(), kClient6.address.end()));
  const auto segment = parseTcpPacket(packet);
  ASSERT_TRUE(segment);
  EXPECT_TRUE(segment->tcpChecksumGood);
  EXPECT_EQ(segment->sourcePort, 6112);
  EXPECT_EQ(segment->sequence, kServerStart + 1);
  EXPECT_EQ(segment->acknowledged, kClientStart + 1);
  EXPECT_EQ(segment->payload, raw("hello"));
}

// A checksum must fail when any byte of what it covers changes. IPv6 has no
// header checksum: its traffic class, flow label and hop limit (bytes 0 to
// 3 and 7) are covered by none.
TEST(TcpConnection, ChecksumsCatchAnyChangedByte) {
  for (const bool ipv6 : {false, true}) {
    TcpConnection connection(ipv6 ? kClient6 : kClient, ipv6 ? kServer6 : kServer, kClientStart, kServerStart);
    const Bytes packet = connection.data(Side::Client, raw("hello")).bytes;
    for (size_t at = 0; at < packet.size(); ++at) {
      if (ipv6 && (at < 4 || at == 7)) continue;
      Bytes changed = packet;
      changed[at] ^= 0x10;
      const auto segment = parseTcpPacket(changed);
      if (!segment) continue;  // the change made it no TCP packet at all
      EXPECT_FALSE(segment->ipChecksumGood && segment->tcpChecksumGood) << (ipv6 ? "IPv6" : "IPv4") << " byte " << at;
    }
  }
}

}  // namespace
}  // namespace vestrel::wire
