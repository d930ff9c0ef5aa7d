#include "tcp_packets.h"

namespace vestrel::wire {

namespace {

constexpr uint8_t kFin = 0x01;
constexpr uint8_t kSyn = 0x02;
constexpr uint8_t kPush = 0x08;
constexpr uint8_t kAck = 0x10;

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kTimeToLive = 64;
constexpr uint16_t kDontFragment = 0x4000;
constexpr size_t kIpHeaderLength = 20;
constexpr size_t kTcpHeaderLength = 20;

// Windows as Linux stacks open them, unscaled since no options are sent.
constexpr uint16_t kClientWindow = 64240;
constexpr uint16_t kServerWindow = 65160;

Bytes address(const Endpoint& endpoint) { return Bytes(endpoint.address.begin(), endpoint.address.end()); }

uint16_t checksumOf(const Bytes& bytes, uint32_t start = 0) {
  return static_cast<uint16_t>(~onesComplementSum(bytes, start));
}

// The TCP checksum covers the addresses, protocol and TCP length as well.
uint32_t pseudoHeaderSum(const Endpoint& source, const Endpoint& destination, size_t tcpLength) {
  return onesComplementSum(address(source) + address(destination) + byte(0) + byte(kProtocolTcp) +
                           netWord(static_cast<uint16_t>(tcpLength)));
}

void putChecksum(Bytes& bytes, size_t at, uint16_t checksum) {
  bytes[at] = static_cast<uint8_t>(checksum >> 8);
  bytes[at + 1] = static_cast<uint8_t>(checksum);
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

TcpConnection::TcpConnection(const Endpoint& client, const Endpoint& server, uint32_t clientInitialSequence,
                             uint32_t serverInitialSequence)
    : client_{client, clientInitialSequence, static_cast<uint16_t>(clientInitialSequence >> 16), kClientWindow},
      server_{server, serverInitialSequence, static_cast<uint16_t>(serverInitialSequence >> 16), kServerWindow} {}

TcpPacket TcpConnection::syn() { return segment(Side::Client, kSyn, {}); }
TcpPacket TcpConnection::synAck() { return segment(Side::Server, kSyn | kAck, {}); }
TcpPacket TcpConnection::handshakeAck() { return segment(Side::Client, kAck, {}); }

TcpPacket TcpConnection::data(Side from, std::span<const uint8_t> payload) {
  return segment(from, kPush | kAck, payload);
}

TcpPacket TcpConnection::ack(Side from) { return segment(from, kAck, {}); }
TcpPacket TcpConnection::fin(Side from) { return segment(from, kFin | kAck, {}); }

TcpPacket TcpConnection::segment(Side from, uint8_t flags, std::span<const uint8_t> payload) {
  Half& sender = half(from);
  const Half& receiver = peer(from);
  const uint32_t acknowledged = (flags & kAck) != 0 ? receiver.nextSequence : 0;
  const size_t tcpLength = kTcpHeaderLength + payload.size();

  Bytes tcp = netWord(sender.endpoint.port) + netWord(receiver.endpoint.port) + netDword(sender.nextSequence) +
              netDword(acknowledged) + byte(kTcpHeaderLength / 4 << 4) + byte(flags) + netWord(sender.window) +
              netWord(0) + netWord(0) + Bytes(payload.begin(), payload.end());
  putChecksum(tcp, 16, checksumOf(tcp, pseudoHeaderSum(sender.endpoint, receiver.endpoint, tcpLength)));

  Bytes ip = byte(0x45) + byte(0) + netWord(static_cast<uint16_t>(kIpHeaderLength + tcpLength)) +
             netWord(sender.nextIpId) + netWord(kDontFragment) + byte(kTimeToLive) + byte(kProtocolTcp) + netWord(0) +
             address(sender.endpoint) + address(receiver.endpoint);
  putChecksum(ip, 10, checksumOf(ip));

  sender.nextSequence += sequenceLength(flags, payload.size());
  ++sender.nextIpId;
  return {from, ip + tcp};
}

}  // namespace vestrel::wire
