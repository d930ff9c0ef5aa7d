// The connections being followed, each with its two byte streams. The table
// is bounded: past its size the connection idle longest is forgotten, and
// connections idle past a time limit expire, so a week-long capture or a
// SYN flood keeps memory flat.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "stream/frame.h"
#include "stream/message_framer.h"
#include "stream/sequence_order.h"

namespace vestrel {

enum class CloseReason { Fin, Rst, Idle, PortsReused, TableFull };

// A connection as seen from its server's port: the client end, then the server end.
struct ConnectionKey {
  IpAddress client;
  IpAddress server;
  uint16_t clientPort = 0;
  uint16_t serverPort = 0;
  bool operator==(const ConnectionKey&) const = default;
};

// Keyed with a secret drawn once per process (SipHash-1-3), so no sender
// can pick addresses and ports whose keys collide.
struct ConnectionKeyHash {
  size_t operator()(const ConnectionKey& key) const;
};

// "10.0.0.5", "::1".
std::string addressText(const IpAddress& address);
// "10.0.0.5:50312", or "[::1]:50312" for IPv6.
std::string endpointText(const IpAddress& address, uint16_t port);

struct Connection;

// One direction's bytes, put in order, then cut into messages, and what its
// sender said of the other direction.
struct DirectionStream {
  SequenceOrder order;
  MessageFramer framer;
  Connection* connection = nullptr;
  // The directions holding bytes behind a gap, oldest first (the tracker's
  // list, bounded in total).
  DirectionStream* holdingNewer = nullptr;
  DirectionStream* holdingOlder = nullptr;
  // Where its FIN stands: no byte at or past it is delivered.
  std::optional<uint32_t> finSequence;
  // The window its sender offers the other direction, in bytes, once seen.
  uint32_t advertisedWindow = 0;
  // The window scale shift of its sender's SYN, when it carried one.
  std::optional<uint8_t> windowShift;
  bool windowSeen = false;
  bool sent = false;  // toward the server
  bool holding = false;
};

struct Connection {
  ConnectionKey key;
  DirectionStream toServer;
  DirectionStream toClient;
  int64_t lastSeen = 0;                // capture time, in seconds
  uint32_t clientInitialSequence = 0;  // of the client's SYN, when seen
  bool synSeen = false;
  bool handshakeSeen = false;  // the client's SYN and the server's answer
  // A client's SYN with another starting number while the connection was
  // open: it replaces the connection only when the server answers it.
  std::optional<uint32_t> pendingSyn;
  // Seen from its SYN: the client's first byte is its protocol byte.
  bool protocolBytePending = false;
  // Its protocol byte names something else than chat messages.
  bool carriesNoMessages = false;
  bool announced = false;  // its opening has been told
  bool closed = false;     // its bytes are done; an idle one may go on
  CloseReason closeReason = CloseReason::Fin;
  // The table's order of use, most recent first.
  Connection* newer = nullptr;
  Connection* older = nullptr;

  DirectionStream& direction(bool sent) { return sent ? toServer : toClient; }
  const DirectionStream& direction(bool sent) const { return sent ? toServer : toClient; }
};

class ConnectionTable {
 public:
  explicit ConnectionTable(size_t capacity) : capacity_(capacity) {}
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  // The connection of key, marked as just used; nullptr when unknown.
  Connection* find(const ConnectionKey& key, int64_t now);
  // Marks the connection as just used.
  void refresh(Connection& connection, int64_t now);
  // A new connection; the table must have room (see full()).
  Connection& add(const ConnectionKey& key, int64_t now);
  void remove(Connection& connection);
  bool full() const { return connections_.size() >= capacity_; }
  // The connection used longest ago, or nullptr.
  Connection* oldest() const { return oldest_; }
  size_t size() const { return connections_.size(); }

 private:
  void unlink(Connection& connection);
  void linkNewest(Connection& connection);

  size_t capacity_;
  std::unordered_map<ConnectionKey, Connection, ConnectionKeyHash> connections_;
  Connection* newest_ = nullptr;
  Connection* oldest_ = nullptr;
  // The connection found last: the next segment is often of the same one.
  Connection* lastFound_ = nullptr;
};

}  // namespace vestrel
