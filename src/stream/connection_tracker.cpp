#include "stream/connection_tracker.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace vestrel {

// One direction of one connection while a segment is handled: takes its
// ordered bytes to the framer, the framer's messages to the printer.
class DirectionOutput final : public OrderedOutput, public FramedOutput {
 public:
  DirectionOutput(ConnectionTracker& tracker, Connection& connection, bool sent)
      : tracker_(tracker), connection_(connection), sent_(sent) {}

  void bytes(std::span<const uint8_t> bytes) override {
    if (sent_ && connection_.protocolBytePending) {
      takeProtocolByte(bytes[0]);
      bytes = bytes.subspan(1);
    }
    if (connection_.carriesNoMessages || bytes.empty()) return;
    stream().framer.feed(bytes, *this);
  }

  void lost(uint64_t count) override {
    tracker_.counts_.lostBytes += count;
    ++tracker_.counts_.losses;
    if (sent_) connection_.protocolBytePending = false;  // it may have been among them
    tracker_.printer_.printEvent(connection_.key,
                                 {.change = ConnectionChange::Lost, .sent = sent_, .lostBytes = count});
    stream().framer.resynchronise();
  }

  void message(const MessageReader& reader) override {
    tracker_.printer_.printMessage(reader, sent_, &connection_.key);
  }
  void tooLong(const MessageHeader& header) override {
    tracker_.printer_.printTooLong(header, sent_, &connection_.key);
  }

 private:
  DirectionStream& stream() { return sent_ ? connection_.toServer : connection_.toClient; }

  // The byte a client sends first names what the connection carries: 0x01
  // is the chat protocol; anything else (file transfers, the plain-text
  // chat) carries no framed messages.
  void takeProtocolByte(uint8_t protocol) {
    connection_.protocolBytePending = false;
    connection_.carriesNoMessages = protocol != kChatProtocolByte;
    connection_.announced = true;
    tracker_.printer_.printEvent(connection_.key, {.change = ConnectionChange::Opened,
                                                   .protocolByte = protocol,
                                                   .carriesMessages = !connection_.carriesNoMessages});
  }

  static constexpr uint8_t kChatProtocolByte = 0x01;

  ConnectionTracker& tracker_;
  Connection& connection_;
  bool sent_;
};

ConnectionTracker::ConnectionTracker(MessagePrinter& printer, std::vector<uint16_t> ports, size_t capacity)
    : printer_(printer), ports_(std::move(ports)), table_(capacity) {}

bool ConnectionTracker::isChatPort(uint16_t port) const {
  return std::find(ports_.begin(), ports_.end(), port) != ports_.end();
}

void ConnectionTracker::handleFrame(const timeval& time, std::span<const uint8_t> frame) {
  if (const auto segment = findTcpSegment(linkLayer, frame)) handleSegment(time, *segment);
}

void ConnectionTracker::handleSegment(const timeval& time, const TcpSegment& segment) {
  const bool sent = isChatPort(segment.destinationPort);
  if (!sent && !isChatPort(segment.sourcePort)) return;
  // A bare acknowledgement changes nothing that is followed here.
  if (segment.payload.empty() && (segment.flags & (kTcpSyn | kTcpFin | kTcpRst)) == 0) return;
  if (segment.cutShort) ++counts_.cutSegments;
  const int64_t now = time.tv_sec;
  printer_.setFrameTime(time);
  expireIdle(now);
  Connection* connection = connectionFor(segment, sent, now);
  if (connection == nullptr) return;
  acceptPayload(*connection, segment, sent);
  noteFlags(*connection, segment, sent);
}

Connection* ConnectionTracker::connectionFor(const TcpSegment& segment, bool sent, int64_t now) {
  const ConnectionKey key =
      sent ? ConnectionKey{segment.source, segment.destination, segment.sourcePort, segment.destinationPort}
           : ConnectionKey{segment.destination, segment.source, segment.destinationPort, segment.sourcePort};
  const bool clientSyn = sent && segment.has(kTcpSyn) && !segment.has(kTcpAck);
  Connection* connection = table_.find(key, now);
  if (connection != nullptr && clientSyn &&
      !(connection->synSeen && connection->clientInitialSequence == segment.sequence)) {
    forget(*connection, CloseReason::PortsReused);
    connection = nullptr;
  }
  if (connection == nullptr) {
    // Only a client's SYN or bytes open an entry: a stray acknowledgement,
    // FIN or RST of a connection already forgotten does not.
    if (!clientSyn && segment.payload.empty()) return nullptr;
    if (table_.full()) {
      ++counts_.forgotten;
      forget(*table_.oldest(), CloseReason::TableFull);
    }
    connection = &table_.add(key, now);
    ++counts_.connections;
    if (clientSyn) {
      connection->synSeen = true;
      connection->clientInitialSequence = segment.sequence;
      connection->protocolBytePending = true;
      connection->toServer.order.start(segment.sequence + 1);
    } else {
      // Met mid-way: each direction takes up the stream at its first header.
      connection->toServer.framer.resynchronise();
      connection->toClient.framer.resynchronise();
    }
  }
  if (!sent && segment.has(kTcpSyn) && !connection->toClient.order.started()) {
    connection->toClient.order.start(segment.sequence + 1);
  }
  return connection;
}

void ConnectionTracker::acceptPayload(Connection& connection, const TcpSegment& segment, bool sent) {
  if (segment.payload.empty()) return;
  if (!connection.announced && !connection.synSeen) {
    connection.announced = true;
    printer_.printEvent(connection.key, {.change = ConnectionChange::OpenBeforeCapture});
  }
  DirectionOutput output(*this, connection, sent);
  // A SYN's own sequence number is the one before its first byte.
  const uint32_t sequence = segment.sequence + (segment.has(kTcpSyn) ? 1 : 0);
  (sent ? connection.toServer : connection.toClient).order.accept(sequence, segment.payload, output);
}

void ConnectionTracker::noteFlags(Connection& connection, const TcpSegment& segment, bool sent) {
  if (segment.has(kTcpRst)) {
    close(connection, CloseReason::Rst);
    return;
  }
  if (!segment.has(kTcpFin)) return;
  (sent ? connection.finToServer : connection.finToClient) = true;
  if (connection.finToServer && connection.finToClient) close(connection, CloseReason::Fin);
}

void ConnectionTracker::flushDirection(Connection& connection, bool sent) {
  DirectionOutput output(*this, connection, sent);
  (sent ? connection.toServer : connection.toClient).order.finish(output);
}

// The connection stays in the table, so that late copies of its segments
// are known for what they are.
void ConnectionTracker::close(Connection& connection, CloseReason reason) {
  if (connection.closed) return;
  connection.closed = true;
  flushDirection(connection, true);
  flushDirection(connection, false);
  connection.toServer.framer.resynchronise();
  connection.toClient.framer.resynchronise();
  printer_.printEvent(connection.key, {.change = ConnectionChange::Closed, .reason = reason});
}

void ConnectionTracker::forget(Connection& connection, CloseReason reason) {
  close(connection, reason);
  table_.remove(connection);
}

void ConnectionTracker::expireIdle(int64_t now) {
  while (table_.oldest() != nullptr && table_.oldest()->lastSeen + kIdleSeconds < now) {
    forget(*table_.oldest(), CloseReason::Idle);
  }
}

void ConnectionTracker::finish() {
  for (Connection* connection = table_.oldest(); connection != nullptr; connection = connection->newer) {
    flushDirection(*connection, true);
    flushDirection(*connection, false);
  }
}

}  // namespace vestrel
