// The IP packets (IPv4 or IPv6) of one TCP connection between a chat client
// and its server: handshake, data, acknowledgements and the close, with
// sequence numbers, acknowledgements, IP ids and checksums as real stacks
// make them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "wire_bytes.h"

namespace vestrel::wire {

enum class IpVersion { V4, V6 };

struct Endpoint {
  std::array<uint8_t, 16> address;  // an IPv4 address takes the first four bytes
  uint16_t port;
  IpVersion version = IpVersion::V4;
};

// Where a packet's version stands: the first four bits of the IP header.
IpVersion ipVersionOf(std::span<const uint8_t> ipPacket);

enum class Side { Client, Server };

struct TcpPacket {
  Side from;
  Bytes bytes;  // the whole IP packet
};

// The ones'-complement sum of 16-bit big-endian words that IP and TCP
// checksums are made of (an odd last byte counts as its word's high half).
uint16_t onesComplementSum(std::span<const uint8_t> bytes, uint32_t start = 0);

class TcpConnection {
 public:
  // The initial sequence numbers are the caller's, so a capture comes out
  // the same every time. Both endpoints have the client's IP version.
  TcpConnection(const Endpoint& client, const Endpoint& server, uint32_t clientInitialSequence,
                uint32_t serverInitialSequence);

  TcpPacket syn();
  TcpPacket synAck();
  TcpPacket handshakeAck();
  // Payload with PSH|ACK, acknowledging all the peer has sent.
  TcpPacket data(Side from, std::span<const uint8_t> payload);
  TcpPacket ack(Side from);
  // FIN|ACK; the peer's ack() then acknowledges it.
  TcpPacket fin(Side from);
  // A keep-alive probe as Linux sends one to an idle peer: an ACK one below
  // the next sequence number, carrying the last byte already sent again.
  TcpPacket keepAlive(Side from);
  // RST|ACK at the side's next sequence number, carrying payload (data on
  // an RST, which no receiver takes); it moves nothing.
  TcpPacket reset(Side from, std::span<const uint8_t> payload = {});
  // Where the side's next byte goes: the sequence number of its next data.
  uint32_t nextSequence(Side side) const { return side == Side::Client ? client_.nextSequence : server_.nextSequence; }

 private:
  struct Half {
    Endpoint endpoint;
    uint32_t nextSequence;
    uint16_t nextIpId;
    uint16_t window;
    uint8_t lastByte;  // of the data sent so far, for keep-alive probes
  };

  TcpPacket segment(Side from, uint8_t flags, std::span<const uint8_t> payload);
  TcpPacket packet(Side from, uint32_t sequence, uint8_t flags, std::span<const uint8_t> payload);
  Half& half(Side side) { return side == Side::Client ? client_ : server_; }
  Half& peer(Side side) { return side == Side::Client ? server_ : client_; }

  Half client_;
  Half server_;
};

}  // namespace vestrel::wire
