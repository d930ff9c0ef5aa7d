#include "tcp_packets.h"

#include <algorithm>

namespace vestrel::wire {

namespace {

constexpr uint8_t kFin = 0x01;
constexpr uint8_t kSyn = 0x02;
constexpr uint8_t kRst = 0x04;
constexpr uint8_t kPush = 0x08;
constexpr uint8_t kAck = 0x10;

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kTimeToLive = 64;
constexpr uint16_t kDontFragment = 0x4000;
constexpr size_t kIpv4HeaderLength = 20;
constexpr size_t kIpv6HeaderLength = 40;
constexpr size_t kTcpHeaderLength = 20;
constexpr size_t kTcpChecksumAt = 16;
constexpr size_t kIpv4ChecksumAt = 10;

// Windows as Linux stacks open them, unscaled since no options are sent.
constexpr uint16_t kClientWindow = 64240;
constexpr uint16_t kServerWindow = 65160;

// Packets are written in place into a buffer of their final size: a
// generated capture holds millions of them.
class PacketCursor {
 public:
  explicit PacketCursor(Bytes& bytes) : bytes_(bytes) {}

  size_t at() const { return at_; }
  void put(uint8_t value) { bytes_[at_++] = value; }
  void putNetWord(uint16_t value) {
    put(static_cast<uint8_t>(value >> 8));
    put(static_cast<uint8_t>(value));
  }
  void putNetDword(uint32_t value) {
    putNetWord(static_cast<uint16_t>(value >> 16));
    putNetWord(static_cast<uint16_t>(value));
  }
  void putBytes(std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ += bytes.size();
  }
  void putAddress(const Endpoint& endpoint) {
    putBytes(std::span(endpoint.address).first(endpoint.version == IpVersion::V6 ? 16 : 4));
  }
  // The checksum at offset at, over length bytes from start.
  void putChecksum(size_t at, size_t start, size_t length, uint32_t initialSum) {
    const auto checksum =
        static_cast<uint16_t>(~onesComplementSum(std::span(bytes_).subspan(start, length), initialSum));
    bytes_[at] = static_cast<uint8_t>(checksum >> 8);
    bytes_[at + 1] = static_cast<uint8_t>(checksum);
  }

 private:
  Bytes& bytes_;
  size_t at_ = 0;
};

void putIpv4Header(PacketCursor& cursor, const Endpoint& source, const Endpoint& destination, size_t tcpLength,
                   uint16_t ipId) {
  const size_t start = cursor.at();
  cursor.put(0x45);
  cursor.put(0);
  cursor.putNetWord(static_cast<uint16_t>(kIpv4HeaderLength + tcpLength));
  cursor.putNetWord(ipId);
  cursor.putNetWord(kDontFragment);
  cursor.put(kTimeToLive);
  cursor.put(kProtocolTcp);
  cursor.putNetWord(0);
  cursor.putAddress(source);
  cursor.putAddress(destination);
  cursor.putChecksum(start + kIpv4ChecksumAt, start, kIpv4HeaderLength, 0);
}

// Traffic class and flow label zero, as a stack leaves them without a label
// to give.
void putIpv6Header(PacketCursor& cursor, const Endpoint& source, const Endpoint& destination, size_t tcpLength) {
  cursor.putNetDword(0x60000000);
  cursor.putNetWord(static_cast<uint16_t>(tcpLength));
  cursor.put(kProtocolTcp);
  cursor.put(kTimeToLive);
  cursor.putAddress(source);
  cursor.putAddress(destination);
}

// The TCP checksum covers the addresses, protocol and TCP length as well;
// both versions' pseudo-headers sum to the same words, the length field's
// width aside, which a ones'-complement sum does not see.
uint32_t pseudoHeaderSum(const Endpoint& source, const Endpoint& destination, size_t tcpLength) {
  const size_t length = source.version == IpVersion::V6 ? 16 : 4;
  const uint32_t addresses = onesComplementSum(std::span(source.address).first(length)) +
                             onesComplementSum(std::span(destination.address).first(length));
  return addresses + kProtocolTcp + static_cast<uint32_t>(tcpLength);
}

// A segment consumes one sequence number for each of SYN and FIN.
uint32_t sequenceLength(uint8_t flags, size_t payloadLength) {
  return static_cast<uint32_t>(payloadLength) + ((flags & kSyn) != 0 ? 1 : 0) + ((flags & kFin) != 0 ? 1 : 0);
}

}  // namespace

uint16_t onesComplementSum(std::span<const uint8_t> bytes, uint32_t start) {
  uint32_t sum = start;
  for (size_t at = 0; at < bytes.size(); at += 2) {
    const uint32_t low = at + 1 < bytes.size() ? bytes[at + 1] : 0;
    sum += uint32_t{bytes[at]} << 8 | low;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(sum);
}

IpVersion ipVersionOf(std::span<const uint8_t> ipPacket) {
  return !ipPacket.empty() && ipPacket[0] >> 4 == 6 ? IpVersion::V6 : IpVersion::V4;
}

TcpConnection::TcpConnection(const Endpoint& client, const Endpoint& server, uint32_t clientInitialSequence,
                             uint32_t serverInitialSequence)
    : client_{client, clientInitialSequence, static_cast<uint16_t>(clientInitialSequence >> 16), kClientWindow, 0},
      server_{server, serverInitialSequence, static_cast<uint16_t>(serverInitialSequence >> 16), kServerWindow, 0} {}

TcpPacket TcpConnection::syn() { return segment(Side::Client, kSyn, {}); }
TcpPacket TcpConnection::synAck() { return segment(Side::Server, kSyn | kAck, {}); }
TcpPacket TcpConnection::handshakeAck() { return segment(Side::Client, kAck, {}); }

TcpPacket TcpConnection::data(Side from, std::span<const uint8_t> payload) {
  if (!payload.empty()) half(from).lastByte = payload.back();
  return segment(from, kPush | kAck, payload);
}

TcpPacket TcpConnection::ack(Side from) { return segment(from, kAck, {}); }
TcpPacket TcpConnection::fin(Side from) { return segment(from, kFin | kAck, {}); }

TcpPacket TcpConnection::keepAlive(Side from) {
  const Half& sender = half(from);
  const uint8_t lastByte[] = {sender.lastByte};
  return packet(from, sender.nextSequence - 1, kAck, lastByte);
}

TcpPacket TcpConnection::reset(Side from, std::span<const uint8_t> payload) {
  return packet(from, half(from).nextSequence, kRst | kAck, payload);
}

TcpPacket TcpConnection::segment(Side from, uint8_t flags, std::span<const uint8_t> payload) {
  TcpPacket sent = packet(from, half(from).nextSequence, flags, payload);
  half(from).nextSequence += sequenceLength(flags, payload.size());
  return sent;
}

TcpPacket TcpConnection::packet(Side from, uint32_t sequence, uint8_t flags, std::span<const uint8_t> payload) {
  Half& sender = half(from);
  const Half& receiver = peer(from);
  const uint32_t acknowledged = (flags & kAck) != 0 ? receiver.nextSequence : 0;
  const size_t tcpLength = kTcpHeaderLength + payload.size();
  const bool ipv6 = sender.endpoint.version == IpVersion::V6;

  Bytes bytes((ipv6 ? kIpv6HeaderLength : kIpv4HeaderLength) + tcpLength);
  PacketCursor cursor(bytes);
  if (ipv6) {
    putIpv6Header(cursor, sender.endpoint, receiver.endpoint, tcpLength);
  } else {
    putIpv4Header(cursor, sender.endpoint, receiver.endpoint, tcpLength, sender.nextIpId);
  }
  const size_t tcpStart = cursor.at();
  cursor.putNetWord(sender.endpoint.port);
  cursor.putNetWord(receiver.endpoint.port);
  cursor.putNetDword(sequence);
  cursor.putNetDword(acknowledged);
  cursor.put(kTcpHeaderLength / 4 << 4);
  cursor.put(flags);
  cursor.putNetWord(sender.window);
  cursor.putNetDword(0);  // checksum and urgent pointer
  cursor.putBytes(payload);
  cursor.putChecksum(tcpStart + kTcpChecksumAt, tcpStart, tcpLength,
                     pseudoHeaderSum(sender.endpoint, receiver.endpoint, tcpLength));

  ++sender.nextIpId;
  return {from, std::move(bytes)};
}

}  // namespace vestrel::wire
