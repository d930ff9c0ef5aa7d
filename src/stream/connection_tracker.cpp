#include "stream/connection_tracker.h"

#include <algorithm>
#include <utility>

namespace vestrel {

// One direction of one connection while its bytes move: takes its ordered
// bytes to the framer, the framer's messages and what either passed over
// to the tracker's events.
class DirectionOutput final : public OrderedOutput, public FramedOutput {
 public:
  DirectionOutput(ConnectionTracker& tracker, DirectionStream& direction)
      : tracker_(tracker), direction_(direction), connection_(*direction.connection) {}

  void bytes(std::span<const uint8_t> bytes) override {
    if (direction_.sent && connection_.protocolBytePending) {
      takeProtocolByte(bytes[0]);
      bytes = bytes.subspan(1);
    }
    if (connection_.carriesNoMessages || bytes.empty()) return;
    direction_.framer.feed(bytes, *this);
  }

  void lost(uint64_t count) override {
    direction_.framer.breakOff(*this);
    tracker_.counts_.lostBytes += count;
    ++tracker_.counts_.losses;
    if (direction_.sent) connection_.protocolBytePending = false;  // it may have been among them
    tell({.change = ConnectionChange::Lost, .sent = direction_.sent, .bytes = count});
  }

  void message(const MessageReader& reader) override {
    tracker_.events_.message(reader, direction_.sent, connection_.key);
  }
  void tooLong(const MessageHeader& header) override {
    tracker_.events_.tooLong(header, direction_.sent, connection_.key);
  }
  void skipped(uint64_t count) override {
    tracker_.counts_.skippedBytes += count;
    tell({.change = ConnectionChange::Skipped, .sent = direction_.sent, .bytes = count});
  }
  void incomplete(uint64_t count, uint32_t length) override {
    ++tracker_.counts_.incompleteMessages;
    tracker_.counts_.incompleteBytes += count;
    tell({.change = ConnectionChange::Incomplete, .sent = direction_.sent, .bytes = count, .messageLength = length});
  }

 private:
  void tell(const ConnectionEvent& event) { tracker_.events_.event(connection_.key, event); }

  // The byte a client sends first names what the connection carries: 0x01
  // is the chat protocol; anything else (file transfers, the plain-text
  // chat) carries no framed messages.
  void takeProtocolByte(uint8_t protocol) {
    connection_.protocolBytePending = false;
    connection_.carriesNoMessages = protocol != kChatProtocolByte;
    connection_.announced = true;
    tell({.change = ConnectionChange::Opened,
          .protocolByte = protocol,
          .carriesMessages = !connection_.carriesNoMessages});
  }

  static constexpr uint8_t kChatProtocolByte = 0x01;

  ConnectionTracker& tracker_;
  DirectionStream& direction_;
  Connection& connection_;
};

namespace {

// A SYN's own sequence number is the one before its first byte.
uint32_t firstByteOf(const TcpSegment& segment) { return segment.sequence + (segment.has(kTcpSyn) ? 1 : 0); }

}  // namespace

ConnectionTracker::ConnectionTracker(ConnectionEvents& events, std::vector<uint16_t> ports, TrackerLimits limits)
    : events_(events), ports_(std::move(ports)), limits_(limits), table_(limits.connections) {}

ConnectionTracker::~ConnectionTracker() = default;

bool ConnectionTracker::isChatPort(uint16_t port) const {
  return std::find(ports_.begin(), ports_.end(), port) != ports_.end();
}

void ConnectionTracker::handleFrame(const timeval& time, std::span<const uint8_t> frame) {
  if (const auto segment = findTcpSegment(linkLayer, frame)) handleSegment(time, *segment);
}

void ConnectionTracker::handleSegment(const timeval& time, const TcpSegment& segment) {
  const bool sent = isChatPort(segment.destinationPort);
  if (!sent && !isChatPort(segment.sourcePort)) return;
  if (segment.cutShort) ++counts_.cutSegments;
  if (segment.headerCut) return;
  const int64_t now = advanceClock(time.tv_sec);
  events_.frameTime(time);
  expireIdle(now);
  Connection* connection = connectionFor(segment, sent, now);
  if (connection == nullptr) return;
  if (!sent && segment.has(kTcpSyn)) noteServerSyn(*connection, segment);
  if (connection->closed) {
    refuseOnClosed(*connection, segment, sent);
    return;
  }
  noteAcknowledgement(*connection, segment, sent);
  acceptPayload(*connection, segment, sent);
  if (segment.has(kTcpRst)) {
    noteReset(*connection, segment, sent);
  } else if (segment.has(kTcpFin)) {
    noteFin(*connection, segment, sent);
  }
  keepTotalBound();
}

// Capture time as the idle limit reads it. A frame stamped more than the
// limit ahead moves it only when the next frame agrees, so one damaged
// time stamp closes nothing; a frame stamped behind never moves it back.
int64_t ConnectionTracker::advanceClock(int64_t stamp) {
  if (!clockSet_) {
    clockSet_ = true;
    clock_ = stamp;
  } else if (stamp <= clock_) {
    jumpedTo_.reset();
  } else if (stamp - clock_ <= kIdleSeconds) {
    clock_ = stamp;
    jumpedTo_.reset();
  } else if (jumpedTo_) {
    clock_ = std::min(stamp, *jumpedTo_);
    jumpedTo_.reset();
  } else {
    jumpedTo_ = stamp;
  }
  return clock_;
}

Connection* ConnectionTracker::connectionFor(const TcpSegment& segment, bool sent, int64_t now) {
  const ConnectionKey key =
      sent ? ConnectionKey{segment.source, segment.destination, segment.sourcePort, segment.destinationPort}
           : ConnectionKey{segment.destination, segment.source, segment.destinationPort, segment.sourcePort};
  Connection* connection = table_.find(key, now);
  if (connection == nullptr) return open(key, segment, sent, now);
  if (sent && segment.has(kTcpSyn) && !segment.has(kTcpAck)) {
    if (connection->synSeen && connection->clientInitialSequence == segment.sequence) return connection;
    if (!connection->closed) {
      // RFC 5961: an open connection answers a SYN with a challenge ACK
      // and stays; only the server taking up the new number replaces it.
      connection->pendingSyn = segment.sequence;
      ignored(*connection, sent, kTcpSyn, Refusal::ConnectionOpen);
      return nullptr;
    }
    forget(*connection, CloseReason::PortsReused);
    return open(key, segment, sent, now);
  }
  if (!sent && segment.has(kTcpSyn) && segment.has(kTcpAck) && connection->pendingSyn &&
      segment.acknowledgement == *connection->pendingSyn + 1) {
    const uint32_t initialSequence = *connection->pendingSyn;
    forget(*connection, CloseReason::PortsReused);
    Connection& replacement = table_.add(key, now);
    ++counts_.connections;
    startFromSyn(replacement, initialSequence);
    return &replacement;
  }
  if (connection->closed && !segment.payload.empty()) return reviveOrReplace(*connection, segment, sent, now);
  return connection;
}

// Bytes for a closed connection: an idle one that goes on in sequence is
// the same connection; bytes far from where it stopped are a new one on the
// same ports, whose SYN was not captured.
Connection* ConnectionTracker::reviveOrReplace(Connection& connection, const TcpSegment& segment, bool sent,
                                               int64_t now) {
  if (connection.direction(sent).order.inWindow(firstByteOf(segment), windowFor(connection, sent))) {
    if (connection.closeReason == CloseReason::Idle) connection.closed = false;
    return &connection;
  }
  const ConnectionKey key = connection.key;
  forget(connection, CloseReason::PortsReused);
  return open(key, segment, sent, now);
}

// Only a client's SYN or bytes open an entry: a stray acknowledgement,
// FIN or RST of a connection already forgotten does not.
Connection* ConnectionTracker::open(const ConnectionKey& key, const TcpSegment& segment, bool sent, int64_t now) {
  const bool clientSyn = sent && segment.has(kTcpSyn) && !segment.has(kTcpAck);
  if ((!clientSyn && segment.payload.empty()) || segment.has(kTcpRst)) return nullptr;
  if (table_.full()) {
    Connection& oldest = *table_.oldest();
    if (!oldest.closed) ++counts_.forgotten;
    forget(oldest, CloseReason::TableFull);
  }
  Connection& connection = table_.add(key, now);
  ++counts_.connections;
  if (clientSyn) {
    startFromSyn(connection, segment.sequence);
    connection.toServer.windowShift = segment.windowShift;
    connection.toServer.advertisedWindow = segment.window;
    connection.toServer.windowSeen = true;
  } else {
    // Met mid-way: each direction takes up the stream at its first header.
    connection.toServer.framer.resynchronise();
    connection.toClient.framer.resynchronise();
  }
  return &connection;
}

void ConnectionTracker::startFromSyn(Connection& connection, uint32_t initialSequence) {
  connection.synSeen = true;
  connection.clientInitialSequence = initialSequence;
  connection.protocolBytePending = true;
  connection.toServer.order.start(initialSequence + 1);
}

// The server's SYN starts its direction once; a retransmitted one changes
// nothing.
void ConnectionTracker::noteServerSyn(Connection& connection, const TcpSegment& segment) {
  DirectionStream& server = connection.toClient;
  if (server.order.started()) return;
  server.order.start(segment.sequence + 1);
  server.windowShift = segment.windowShift;
  server.advertisedWindow = segment.window;
  server.windowSeen = true;
  connection.handshakeSeen = connection.synSeen;
}

// How far past the next byte the receiver of a direction takes data: the
// window it advertised, scaled as the handshake agreed; without the
// handshake, neither the scale nor the window is known.
uint32_t ConnectionTracker::windowFor(const Connection& connection, bool sent) const {
  const DirectionStream& receiver = sent ? connection.toClient : connection.toServer;
  if (!connection.handshakeSeen || !receiver.windowSeen) return kUnknownWindow;
  return receiver.advertisedWindow;
}

// The acknowledgement a segment carries tells how far the other direction
// reached its receiver: a gap before it will never fill. A segment whose
// own number lies outside its window is not believed (RFC 5961).
void ConnectionTracker::noteAcknowledgement(Connection& connection, const TcpSegment& segment, bool sent) {
  if (!segment.has(kTcpAck)) return;
  DirectionStream& own = connection.direction(sent);
  if (!own.order.inWindow(segment.sequence, windowFor(connection, sent))) return;
  if (!segment.has(kTcpSyn)) {
    const bool scaled = connection.toServer.windowShift && connection.toClient.windowShift;
    own.advertisedWindow = uint32_t{segment.window} << (scaled ? *own.windowShift : 0);
    own.windowSeen = true;
  }
  DirectionStream& acked = connection.direction(!sent);
  uint32_t acknowledgement = segment.acknowledgement;
  // Mostly it acknowledges what was delivered, and nothing follows.
  if (acknowledgement == acked.order.next()) return;
  // A FIN takes a sequence number of its own, and so its acknowledgement.
  if (acked.finSequence && acknowledgement == *acked.finSequence + 1) acknowledgement = *acked.finSequence;
  const size_t before = acked.order.heldMemory();
  DirectionOutput output(*this, acked);
  acked.order.acknowledged(acknowledgement, output);
  accountHeld(acked, before);
}

void ConnectionTracker::acceptPayload(Connection& connection, const TcpSegment& segment, bool sent) {
  if (segment.payload.empty()) return;
  if (segment.has(kTcpRst)) {
    notDelivered(connection, sent, segment.payload.size(), Refusal::OnRst);
    return;
  }
  DirectionStream& direction = connection.direction(sent);
  const uint32_t sequence = firstByteOf(segment);
  std::span<const uint8_t> payload = segment.payload;
  if (direction.finSequence) {
    const int64_t beforeFin = std::max<int64_t>(0, static_cast<int32_t>(*direction.finSequence - sequence));
    if (beforeFin < static_cast<int64_t>(payload.size())) {
      notDelivered(connection, sent, payload.size() - static_cast<size_t>(beforeFin), Refusal::AfterFin);
      payload = payload.first(static_cast<size_t>(beforeFin));
      if (payload.empty()) return;
    }
  }
  if (!connection.announced && !connection.synSeen) {
    connection.announced = true;
    tell(connection, {.change = ConnectionChange::OpenBeforeCapture});
  }
  const size_t before = direction.order.heldMemory();
  DirectionOutput output(*this, direction);
  const Placement placement = direction.order.accept(sequence, payload, windowFor(connection, sent), output);
  if (segment.uncaptured != 0 && placement == Placement::Taken) {
    direction.order.reached(sequence + static_cast<uint32_t>(payload.size()) + segment.uncaptured);
  }
  accountHeld(direction, before);
  if (placement == Placement::OutOfWindow) notDelivered(connection, sent, payload.size(), Refusal::OutOfWindow);
}

// A closed connection delivers nothing more; what would have been new is
// counted, late copies are not.
void ConnectionTracker::refuseOnClosed(Connection& connection, const TcpSegment& segment, bool sent) {
  if (segment.payload.empty()) return;
  const SequenceOrder& order = connection.direction(sent).order;
  const uint32_t end = firstByteOf(segment) + static_cast<uint32_t>(segment.payload.size());
  const auto size = static_cast<int64_t>(segment.payload.size());
  const int64_t fresh = order.started() ? std::min<int64_t>(static_cast<int32_t>(end - order.next()), size) : size;
  if (fresh <= 0) return;
  notDelivered(connection, sent, static_cast<uint64_t>(fresh),
               connection.closeReason == CloseReason::Rst ? Refusal::AfterRst : Refusal::AfterFin);
}

// RFC 5961: an RST closes only at the next byte its receiver expects (or
// right after its FIN). One elsewhere inside the window gets a challenge
// ACK from a real stack, whose answer, an exact RST, is what closes it; one
// outside the window is dropped.
void ConnectionTracker::noteReset(Connection& connection, const TcpSegment& segment, bool sent) {
  const DirectionStream& direction = connection.direction(sent);
  if (direction.order.started()) {
    if (!direction.order.inWindow(segment.sequence, windowFor(connection, sent))) {
      ignored(connection, sent, kTcpRst, Refusal::OutOfWindow);
      return;
    }
    const bool afterFin = direction.finSequence && segment.sequence == *direction.finSequence + 1;
    if (!direction.order.atNextByte(segment.sequence) && !afterFin) {
      ignored(connection, sent, kTcpRst, Refusal::NotAtNextByte);
      return;
    }
  }
  close(connection, CloseReason::Rst);
}

// A FIN inside the window ends its direction; the connection closes when
// both have ended.
void ConnectionTracker::noteFin(Connection& connection, const TcpSegment& segment, bool sent) {
  DirectionStream& direction = connection.direction(sent);
  const uint32_t finSequence = firstByteOf(segment) + static_cast<uint32_t>(segment.payload.size());
  if (!direction.order.inWindow(finSequence, windowFor(connection, sent))) {
    ignored(connection, sent, kTcpFin, Refusal::OutOfWindow);
    return;
  }
  if (!direction.finSequence) {
    direction.finSequence = finSequence;
    direction.order.reached(finSequence);
  }
  if (connection.toServer.finSequence && connection.toClient.finSequence) close(connection, CloseReason::Fin);
}

void ConnectionTracker::tell(const Connection& connection, const ConnectionEvent& event) {
  events_.event(connection.key, event);
}

void ConnectionTracker::notDelivered(const Connection& connection, bool sent, uint64_t bytes, Refusal why) {
  counts_.notDeliveredBytes += bytes;
  tell(connection, {.change = ConnectionChange::NotDelivered, .sent = sent, .bytes = bytes, .refusal = why});
}

void ConnectionTracker::ignored(const Connection& connection, bool sent, uint8_t flag, Refusal why) {
  ++counts_.ignoredControls;
  tell(connection, {.change = ConnectionChange::Ignored, .sent = sent, .refusal = why, .flag = flag});
}

void ConnectionTracker::flushDirection(DirectionStream& direction) {
  const size_t before = direction.order.heldMemory();
  DirectionOutput output(*this, direction);
  direction.order.finish(output);
  direction.framer.breakOff(output);
  accountHeld(direction, before);
}

// The connection stays in the table, so that late copies of its segments
// are known for what they are.
void ConnectionTracker::close(Connection& connection, CloseReason reason) {
  if (connection.closed) return;
  connection.closed = true;
  connection.closeReason = reason;
  flushDirection(connection.toServer);
  flushDirection(connection.toClient);
  tell(connection, {.change = ConnectionChange::Closed, .reason = reason});
}

void ConnectionTracker::forget(Connection& connection, CloseReason reason) {
  close(connection, reason);
  table_.remove(connection);
}

// A connection silent past the limit is closed, and kept one more period
// as it was, so that if it goes on in sequence it is known again.
void ConnectionTracker::expireIdle(int64_t now) {
  while (Connection* oldest = table_.oldest()) {
    if (oldest->lastSeen + kIdleSeconds >= now) break;
    if (oldest->closed) {
      table_.remove(*oldest);
      continue;
    }
    close(*oldest, CloseReason::Idle);
    table_.refresh(*oldest, now);
  }
}

void ConnectionTracker::finish() {
  for (Connection* connection = table_.oldest(); connection != nullptr; connection = connection->newer) {
    if (connection->closed) continue;
    flushDirection(connection->toServer);
    flushDirection(connection->toClient);
  }
}

// Keeps the total and the list of holding directions, oldest first, in
// step with what a direction holds now.
void ConnectionTracker::accountHeld(DirectionStream& direction, size_t before) {
  const size_t after = direction.order.heldMemory();
  totalHeld_ = totalHeld_ - before + after;
  if (after != 0 && !direction.holding) {
    direction.holding = true;
    direction.holdingOlder = holdingNewest_;
    direction.holdingNewer = nullptr;
    (holdingNewest_ != nullptr ? holdingNewest_->holdingNewer : holdingOldest_) = &direction;
    holdingNewest_ = &direction;
  } else if (after == 0 && direction.holding) {
    direction.holding = false;
    (direction.holdingNewer != nullptr ? direction.holdingNewer->holdingOlder : holdingNewest_) =
        direction.holdingOlder;
    (direction.holdingOlder != nullptr ? direction.holdingOlder->holdingNewer : holdingOldest_) =
        direction.holdingNewer;
    direction.holdingNewer = direction.holdingOlder = nullptr;
  }
}

// Past the total bound, the direction that began holding first gives up its
// first gap, and so on until the total fits.
void ConnectionTracker::keepTotalBound() {
  while (totalHeld_ > limits_.totalHeldMemory && holdingOldest_ != nullptr) {
    DirectionStream& direction = *holdingOldest_;
    const size_t before = direction.order.heldMemory();
    DirectionOutput output(*this, direction);
    direction.order.skipFirstGap(output);
    ++counts_.heldMemoryGivenUp;
    accountHeld(direction, before);
  }
}

}  // namespace vestrel
