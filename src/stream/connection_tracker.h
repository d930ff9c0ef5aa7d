// Follows every connection to the chat ports on its own: each direction put
// back in TCP sequence order and cut into messages, printed as they
// complete, in capture order across connections. A loss in one direction
// of one connection makes only that direction look for its next header.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <span>
#include <vector>

#include "stream/connection_table.h"
#include "stream/link_layer.h"
#include "stream/message_printer.h"

namespace vestrel {

struct TrackerCounts {
  uint64_t lostBytes = 0;
  uint64_t losses = 0;       // gaps declared
  uint64_t connections = 0;  // connections followed
  uint64_t forgotten = 0;    // dropped from a full table
  uint64_t cutSegments = 0;  // chat segments the snapshot length cut short
};

// How long a connection may stay silent before it is forgotten, in capture time.
inline constexpr int64_t kIdleSeconds = int64_t{15} * 60;
// How many connections are followed at once.
inline constexpr size_t kMaxConnections = size_t{1} << 18;

class ConnectionTracker {
 public:
  // ports: the chat ports (a segment to one of them travels toward the
  // server). The printer shows the connections' events as it is set to.
  ConnectionTracker(MessagePrinter& printer, std::vector<uint16_t> ports, size_t capacity = kMaxConnections);

  LinkLayer linkLayer = LinkLayer::Ethernet;

  void handleFrame(const timeval& time, std::span<const uint8_t> frame);
  void handleSegment(const timeval& time, const TcpSegment& segment);
  // The capture ended: bytes waiting behind a gap are delivered and the gap
  // counted as lost. Connections still open are left as they are.
  void finish();

  const TrackerCounts& counts() const { return counts_; }
  size_t openConnections() const { return table_.size(); }

 private:
  friend class DirectionOutput;

  Connection* connectionFor(const TcpSegment& segment, bool sent, int64_t now);
  void acceptPayload(Connection& connection, const TcpSegment& segment, bool sent);
  void noteFlags(Connection& connection, const TcpSegment& segment, bool sent);
  void close(Connection& connection, CloseReason reason);
  void expireIdle(int64_t now);
  void forget(Connection& connection, CloseReason reason);
  void flushDirection(Connection& connection, bool sent);
  bool isChatPort(uint16_t port) const;

  MessagePrinter& printer_;
  std::vector<uint16_t> ports_;
  ConnectionTable table_;
  TrackerCounts counts_;
};

}  // namespace vestrel
