#include "stream/connection_table.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <array>
#include <bit>
#include <chrono>
#include <cstring>

namespace vestrel {

namespace {

uint64_t wordAt(const IpAddress& address, size_t offset) {
  uint64_t word = 0;
  std::memcpy(&word, address.bytes.data() + offset, sizeof word);
  return word;
}

// SipHash's state and round (Aumasson and Bernstein): with a secret key, a
// sender who sees no output cannot find keys that collide.
struct SipState {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1, v1 = std::rotl(v1, 13), v1 ^= v0, v0 = std::rotl(v0, 32);
    v2 += v3, v3 = std::rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = std::rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = std::rotl(v1, 17), v1 ^= v2, v2 = std::rotl(v2, 32);
  }
  void absorb(uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  }
  uint64_t finish() {
    v2 ^= 0xFF;
    round(), round(), round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

// Drawn once per process from the kernel; should it refuse, the clock
// still keeps the key from being known in advance.
std::array<uint64_t, 2> drawSecret() {
  std::array<uint64_t, 2> secret{};
  if (getrandom(secret.data(), sizeof secret, 0) != static_cast<ssize_t>(sizeof secret)) {
    secret[0] ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    secret[1] ^= reinterpret_cast<uintptr_t>(&secret);
  }
  return secret;
}

}  // namespace

size_t ConnectionKeyHash::operator()(const ConnectionKey& key) const {
  static const std::array<uint64_t, 2> kSecret = drawSecret();
  SipState state{kSecret[0] ^ 0x736F6D6570736575ULL, kSecret[1] ^ 0x646F72616E646F6DULL,
                 kSecret[0] ^ 0x6C7967656E657261ULL, kSecret[1] ^ 0x7465646279746573ULL};
  for (const IpAddress* address : {&key.client, &key.server}) {
    state.absorb(wordAt(*address, 0));
    state.absorb(wordAt(*address, 8));
  }
  state.absorb(uint64_t{key.clientPort} << 32 | uint64_t{key.serverPort} << 16 | uint64_t{key.client.v6} << 8 |
               uint64_t{key.server.v6});
  return static_cast<size_t>(state.finish());
}

std::string addressText(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
  return text;
}

std::string endpointText(const IpAddress& address, uint16_t port) {
  const std::string text = addressText(address);
  return (address.v6 ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

Connection* ConnectionTable::find(const ConnectionKey& key, int64_t now) {
  Connection* known = lastFound_ != nullptr && lastFound_->key == key ? lastFound_ : nullptr;
  if (known == nullptr) {
    const auto found = connections_.find(key);
    if (found == connections_.end()) return nullptr;
    known = &found->second;
    lastFound_ = known;
  }
  refresh(*known, now);
  return known;
}

void ConnectionTable::refresh(Connection& connection, int64_t now) {
  connection.lastSeen = now;
  if (newest_ != &connection) {
    unlink(connection);
    linkNewest(connection);
  }
}

Connection& ConnectionTable::add(const ConnectionKey& key, int64_t now) {
  Connection& connection = connections_[key];
  connection.key = key;
  connection.lastSeen = now;
  connection.toServer.connection = connection.toClient.connection = &connection;
  connection.toServer.sent = true;
  linkNewest(connection);
  return connection;
}

void ConnectionTable::remove(Connection& connection) {
  if (lastFound_ == &connection) lastFound_ = nullptr;
  unlink(connection);
  const ConnectionKey key = connection.key;  // erased with the connection
  connections_.erase(key);
}

void ConnectionTable::unlink(Connection& connection) {
  (connection.newer != nullptr ? connection.newer->older : newest_) = connection.older;
  (connection.older != nullptr ? connection.older->newer : oldest_) = connection.newer;
  connection.newer = connection.older = nullptr;
}

void ConnectionTable::linkNewest(Connection& connection) {
  connection.older = newest_;
  connection.newer = nullptr;
  (newest_ != nullptr ? newest_->newer : oldest_) = &connection;
  newest_ = &connection;
}

}  // namespace vestrel
