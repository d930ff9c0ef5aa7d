#include "stream/connection_table.h"

#include <arpa/inet.h>

#include <cstring>

namespace vestrel {

size_t ConnectionKeyHash::operator()(const ConnectionKey& key) const {
  // FNV-1a over the bytes that tell connections apart.
  uint64_t hash = 0xCBF29CE484222325ULL;
  const auto mix = [&hash](std::span<const uint8_t> bytes) {
    for (const uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ULL;
  };
  mix(key.client.octets());
  mix(key.server.octets());
  const uint8_t ports[4] = {static_cast<uint8_t>(key.clientPort), static_cast<uint8_t>(key.clientPort >> 8),
                            static_cast<uint8_t>(key.serverPort), static_cast<uint8_t>(key.serverPort >> 8)};
  mix(ports);
  return static_cast<size_t>(hash);
}

std::string endpointText(const IpAddress& address, uint16_t port) {
  char text[INET6_ADDRSTRLEN + 2] = "";
  if (address.v6) {
    text[0] = '[';
    inet_ntop(AF_INET6, address.bytes.data(), text + 1, INET6_ADDRSTRLEN);
    std::strcat(text, "]");
  } else {
    inet_ntop(AF_INET, address.bytes.data(), text, INET_ADDRSTRLEN);
  }
  return std::string(text) + ":" + std::to_string(port);
}

Connection* ConnectionTable::find(const ConnectionKey& key, int64_t now) {
  const auto found = connections_.find(key);
  if (found == connections_.end()) return nullptr;
  Connection& connection = found->second;
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
