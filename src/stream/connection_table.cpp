#include "stream/connection_table.h"

#include <arpa/inet.h>

#include <cstring>

namespace vestrel {

namespace {

uint64_t wordAt(const IpAddress& address, size_t offset) {
  uint64_t word = 0;
  std::memcpy(&word, address.bytes.data() + offset, sizeof word);
  return word;
}

// Multiplies and folds, as fast hashes of a few words do; the bytes that
// tell connections apart all move the result.
uint64_t mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15ULL;
  return hash ^ (hash >> 29);
}

}  // namespace

size_t ConnectionKeyHash::operator()(const ConnectionKey& key) const {
  uint64_t hash = uint64_t{key.clientPort} << 16 | key.serverPort;
  for (const IpAddress* address : {&key.client, &key.server}) {
    hash = mix(hash, wordAt(*address, 0));
    if (address->v6) hash = mix(hash, wordAt(*address, 8));
  }
  return static_cast<size_t>(hash);
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
  Connection& connection = *known;
  connection.lastSeen = now;
  if (newest_ != &connection) {
    unlink(connection);
    linkNewest(connection);
  }
  return &connection;
}

Connection& ConnectionTable::add(const ConnectionKey& key, int64_t now) {
  Connection& connection = connections_[key];
  connection.key = key;
  connection.lastSeen = now;
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
