// Follows every connection to the chat ports on its own: each direction put
// back in TCP sequence order and cut into messages, handed on as they
// complete, in capture order across connections. A loss in one direction
// of one connection makes only that direction look for its next header.
//
// Segments are taken as the receiving end would take them: data outside
// the receiver's window, after a FIN or on an RST is not delivered; a SYN
// on an open connection, or an RST outside the window or not at the next
// byte, changes nothing (RFC 5961). Everything passed over is an event.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <span>
#include <vector>

#include "stream/connection_events.h"
#include "stream/connection_table.h"
#include "stream/link_layer.h"

namespace vestrel {

// What a run of the tracker came across, for the report at its end.
struct TrackerCounts {
  uint64_t lostBytes = 0;
  uint64_t losses = 0;              // gaps declared
  uint64_t skippedBytes = 0;        // passed over while looking for a message
  uint64_t incompleteMessages = 0;  // cut off by a gap or an end
  uint64_t incompleteBytes = 0;     // their bytes that came
  uint64_t notDeliveredBytes = 0;   // out of window, after a FIN, on or after an RST
  uint64_t ignoredControls = 0;     // SYN, FIN and RST segments that changed nothing
  uint64_t connections = 0;         // connections followed
  uint64_t forgotten = 0;           // dropped from a full table
  uint64_t cutSegments = 0;         // chat segments the snapshot length cut short
  uint64_t heldMemoryGivenUp = 0;   // gaps given up for the total bound
};

// How long a connection may stay silent before it is closed, in capture time.
inline constexpr int64_t kIdleSeconds = int64_t{15} * 60;
// How many connections are followed at once.
inline constexpr size_t kMaxConnections = size_t{1} << 18;
// The memory all connections together may hold behind gaps.
inline constexpr size_t kDefaultTotalHeldMemory = size_t{64} << 20;

struct TrackerLimits {
  size_t connections = kMaxConnections;
  size_t totalHeldMemory = kDefaultTotalHeldMemory;
};

class ConnectionTracker {
 public:
  // ports: the chat ports (a segment to one of them travels toward the
  // server). The events go to events, as they happen.
  ConnectionTracker(ConnectionEvents& events, std::vector<uint16_t> ports, TrackerLimits limits = {});
  ~ConnectionTracker();
  ConnectionTracker(const ConnectionTracker&) = delete;
  ConnectionTracker& operator=(const ConnectionTracker&) = delete;

  LinkLayer linkLayer = LinkLayer::Ethernet;

  void handleFrame(const timeval& time, std::span<const uint8_t> frame);
  void handleSegment(const timeval& time, const TcpSegment& segment);
  // The capture ended: bytes waiting behind a gap are delivered and the gap
  // counted as lost, messages left unfinished are told. Connections still
  // open are left as they are.
  void finish();

  const TrackerCounts& counts() const { return counts_; }
  size_t openConnections() const { return table_.size(); }
  size_t heldMemory() const { return totalHeld_; }

 private:
  friend class DirectionOutput;

  int64_t advanceClock(int64_t stamp);
  Connection* connectionFor(const TcpSegment& segment, bool sent, int64_t now);
  Connection* reviveOrReplace(Connection& connection, const TcpSegment& segment, bool sent, int64_t now);
  Connection* open(const ConnectionKey& key, const TcpSegment& segment, bool sent, int64_t now);
  void startFromSyn(Connection& connection, uint32_t initialSequence);
  void noteServerSyn(Connection& connection, const TcpSegment& segment);
  void noteAcknowledgement(Connection& connection, const TcpSegment& segment, bool sent);
  void acceptPayload(Connection& connection, const TcpSegment& segment, bool sent);
  void refuseOnClosed(Connection& connection, const TcpSegment& segment, bool sent);
  void noteReset(Connection& connection, const TcpSegment& segment, bool sent);
  void noteFin(Connection& connection, const TcpSegment& segment, bool sent);
  uint32_t windowFor(const Connection& connection, bool sent) const;
  void tell(const Connection& connection, const ConnectionEvent& event);
  void notDelivered(const Connection& connection, bool sent, uint64_t bytes, Refusal why);
  void ignored(const Connection& connection, bool sent, uint8_t flag, Refusal why);
  void close(Connection& connection, CloseReason reason);
  void expireIdle(int64_t now);
  void forget(Connection& connection, CloseReason reason);
  void flushDirection(DirectionStream& direction);
  void accountHeld(DirectionStream& direction, size_t before);
  void keepTotalBound();
  bool isChatPort(uint16_t port) const;

  ConnectionEvents& events_;
  std::vector<uint16_t> ports_;
  TrackerLimits limits_;
  ConnectionTable table_;
  TrackerCounts counts_;
  // The capture clock: a single frame stamped far ahead does not move it.
  int64_t clock_ = 0;
  bool clockSet_ = false;
  std::optional<int64_t> jumpedTo_;
  // Held behind gaps, all directions together, and who holds it.
  size_t totalHeld_ = 0;
  DirectionStream* holdingOldest_ = nullptr;
  DirectionStream* holdingNewest_ = nullptr;
};

}  // namespace vestrel
