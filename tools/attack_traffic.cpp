#include "attack_traffic.h"

#include <cstring>
#include <vector>

#include "protocol_messages.h"
#include "session_player.h"

namespace vestrel::wire {

namespace {

constexpr Endpoint kServer{{198, 51, 100, 20}, 6112};
constexpr Endpoint kClient{{192, 0, 2, 10}, 50412};
constexpr uint32_t kClientStart = 0x2F6A91C3;
constexpr uint32_t kServerStart = 0xC41B0D72;

// Frames 20 microseconds apart.
class Clock {
 public:
  CaptureTime tick() { return now_ += std::chrono::microseconds(20); }

 private:
  CaptureTime now_ = sessionStart();
};

bool put(CaptureWriter& writer, Clock& clock, const TcpPacket& packet) {
  return writer.writePacket(clock.tick(), packet.bytes, packet.from == Side::Client);
}

bool openConnection(CaptureWriter& writer, Clock& clock, TcpConnection& tcp) {
  return put(writer, clock, tcp.syn()) && put(writer, clock, tcp.synAck()) && put(writer, clock, tcp.handshakeAck()) &&
         put(writer, clock, tcp.data(Side::Client, protocolByte()));
}

// The hash the table used before it had a key: multiply, then fold.
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;

uint64_t mix(uint64_t hash, uint64_t value) {
  hash = (hash ^ value) * kMultiplier;
  return hash ^ (hash >> 29);
}

uint64_t unfold(uint64_t folded) { return folded ^ (folded >> 29) ^ (folded >> 58); }

// The multiplier's inverse modulo 2^64, by Newton's steps.
uint64_t inverse(uint64_t odd) {
  uint64_t result = odd;
  for (int step = 0; step < 5; ++step) result *= 2 - odd * result;
  return result;
}

uint64_t wordAt(const std::array<uint8_t, 16>& address, size_t offset) {
  uint64_t value = 0;
  std::memcpy(&value, address.data() + offset, sizeof value);
  return value;
}

// The interface identifier that takes a client on this port to the chosen
// value after its address went into the hash: from there on every key is
// the same.
uint64_t collidingInterface(uint16_t port, const std::array<uint8_t, 16>& prefix, uint64_t target) {
  const uint64_t afterPrefix = mix(uint64_t{port} << 16 | kServer.port, wordAt(prefix, 0));
  return afterPrefix ^ (unfold(target) * inverse(kMultiplier));
}

}  // namespace

bool writeTinySegments(CaptureWriter& writer, size_t count) {
  Clock clock;
  TcpConnection tcp(kClient, kServer, kClientStart, kServerStart);
  bool ok = openConnection(writer, clock, tcp);
  Bytes pings;
  for (uint32_t cookie = 0; pings.size() < count; ++cookie) pings = pings + ping(cookie);
  const TcpPacket first = tcp.data(Side::Client, Bytes{pings[0]});
  for (size_t at = 1; ok && at < count; ++at) ok = put(writer, clock, tcp.data(Side::Client, Bytes{pings[at]}));
  return ok && put(writer, clock, first) && put(writer, clock, tcp.ack(Side::Server)) && writer.finish();
}

bool writeCollidingConnections(CaptureWriter& writer, size_t count) {
  Clock clock;
  const std::array<uint8_t, 16> prefix{0x20, 0x01, 0x0D, 0xB8, 0x00, 0x42};
  Endpoint server{{0x20, 0x01, 0x0D, 0xB8, 0x00, 0x01}, kServer.port, IpVersion::V6};
  server.address[15] = 1;
  bool ok = true;
  for (size_t index = 0; ok && index < count; ++index) {
    Endpoint client{prefix, static_cast<uint16_t>(1024 + index % 60000), IpVersion::V6};
    const uint64_t interface = collidingInterface(client.port, prefix, 0x5EED5EED5EED5EEDULL + index / 60000);
    std::memcpy(client.address.data() + 8, &interface, sizeof interface);
    TcpConnection tcp(client, server, kClientStart + static_cast<uint32_t>(index), kServerStart);
    ok = openConnection(writer, clock, tcp) &&
         put(writer, clock, tcp.data(Side::Client, ping(static_cast<uint32_t>(index)))) &&
         put(writer, clock, tcp.fin(Side::Client)) && put(writer, clock, tcp.fin(Side::Server));
  }
  return ok && writer.finish();
}

}  // namespace vestrel::wire
