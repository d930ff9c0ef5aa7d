#include "interleaved_traffic.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "chat_dice.h"
#include "client_conversation.h"
#include "expected_messages.h"
#include "protocol_messages.h"
#include "session_player.h"
#include "tcp_packets.h"

namespace vestrel::wire {

namespace {

constexpr uint16_t kServerPort = 6112;
constexpr uint16_t kFirstClientPort = 40000;
constexpr size_t kClientPorts = 25000;
constexpr size_t kHostsPerSubnet = 250;
constexpr size_t kSubnets = 255;

constexpr size_t kMaxSegmentPayload = 1460;
constexpr size_t kHeaderLength = 4;
constexpr uint32_t kPeerAckPercent = 50;
constexpr uint32_t kKeepAlivePercent = 8;
constexpr uint32_t kKeepTailPercent = 50;
constexpr uint32_t kMaxRetransmitDelay = 5;  // frames
constexpr uint32_t kMaxFrameGap = 400;       // microseconds

// Seeds for independent dice, each a hash of the request's seed and what it
// drives, so the conversations stay the same whatever faults are asked for.
uint32_t seedFor(uint32_t seed, uint64_t purpose) {
  uint64_t z = (uint64_t{seed} << 32 ^ purpose) + 0x9E3779B97F4A7C15;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return static_cast<uint32_t>(z ^ (z >> 31) ^ (z >> 32));
}

enum Purpose : uint64_t { kConversation, kSegments, kInitialSequences, kPurposes };
constexpr uint64_t kScheduler = ~uint64_t{0};

size_t sideIndex(Side side) { return side == Side::Client ? 0 : 1; }
Side other(Side side) { return side == Side::Client ? Side::Server : Side::Client; }

Endpoint ipv4(uint8_t c, uint8_t d, uint16_t port) { return {{10, 0, c, d}, port}; }

// fd00::host in the unique local range, or ::host outside it (::1).
Endpoint ipv6(uint32_t host, uint16_t port, bool uniqueLocal) {
  Endpoint endpoint{{}, port, IpVersion::V6};
  if (uniqueLocal) endpoint.address[0] = 0xFD;
  for (size_t at = 0; at < 4; ++at) endpoint.address[12 + at] = static_cast<uint8_t>(host >> (24 - 8 * at));
  return endpoint;
}

// Clients 10.0.x.y (x from 1, away from the server's 10.0.0.1), the last
// ones fd00::2 on, and the very last of at least two on the loopback
// address. Address and port together tell every client apart.
Endpoint clientEndpoint(size_t index, const InterleavedTraffic& traffic) {
  const auto port = static_cast<uint16_t>(kFirstClientPort + index % kClientPorts);
  const size_t firstIpv6 = traffic.clients - traffic.ipv6Clients;
  if (index < firstIpv6) {
    const size_t host = index % (kSubnets * kHostsPerSubnet);
    return ipv4(static_cast<uint8_t>(1 + host / kHostsPerSubnet), static_cast<uint8_t>(1 + host % kHostsPerSubnet),
                port);
  }
  const bool loopback = traffic.ipv6Clients >= 2 && index + 1 == traffic.clients;
  return loopback ? ipv6(1, port, false) : ipv6(static_cast<uint32_t>(2 + index - firstIpv6), port, true);
}

Endpoint serverFor(const Endpoint& client) {
  if (client.version == IpVersion::V4) return ipv4(0, 1, kServerPort);
  return ipv6(1, kServerPort, client.address[0] == 0xFD);
}

// The bytes one side has written and not yet sent, with where its messages
// end, so segments can be cut at message boundaries or anywhere else.
class Outbox {
 public:
  void append(std::span<const uint8_t> message) {
    compact();
    bytes_.insert(bytes_.end(), message.begin(), message.end());
    ends_.push_back(bytes_.size());
  }
  size_t unsent() const { return bytes_.size() - sent_; }
  // Whether the next byte starts a message.
  bool atBoundary() const {
    if (nextEnd_ == 0) return sent_ == 0 && startsAtMessage_;
    return ends_[nextEnd_ - 1] == sent_;
  }
  // Bytes up to the end of the message the next byte belongs to.
  size_t toBoundary() const { return ends_[nextEnd_] - sent_; }
  bool inLastMessage() const { return nextEnd_ + 1 == ends_.size(); }
  std::span<const uint8_t> peek(size_t count) const { return std::span(bytes_).subspan(sent_, count); }

  void consume(size_t count) {
    sent_ += count;
    while (nextEnd_ < ends_.size() && ends_[nextEnd_] <= sent_) ++nextEnd_;
    // An idle side holds no memory: a capture may have a million of them.
    if (unsent() == 0) *this = Outbox();
  }

 private:
  // Drops what was sent, keeping the tail of a message begun.
  void compact() {
    if (sent_ == 0) return;
    startsAtMessage_ = atBoundary();
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(sent_));
    ends_.erase(ends_.begin(), ends_.begin() + static_cast<std::ptrdiff_t>(nextEnd_));
    for (size_t& end : ends_) end -= sent_;
    sent_ = 0;
    nextEnd_ = 0;
  }

  Bytes bytes_;
  std::vector<size_t> ends_;
  size_t sent_ = 0;
  size_t nextEnd_ = 0;  // the first message end after sent_
  bool startsAtMessage_ = true;
};

enum class Fate : uint8_t {
  Captured,
  Missed,  // before the capture caught the connection
  Lost,    // the capture dropped it
};

struct QueuedFrame {
  TcpPacket packet;
  uint32_t sequence = 0;  // of the payload
  uint16_t payloadLength = 0;
  bool newData = false;  // a data segment, not a keep-alive probe
  bool startsAtMessage = false;
  bool opens = false;   // the handshake's last segment
  bool closes = false;  // a FIN
  Fate fate = Fate::Captured;
};

// One client's connection: its conversation cut into segments, the faults
// asked of it, and what the capture of it must show. Frames wait in a short
// queue until the capture takes them.
class ClientConnection {
 public:
  ClientConnection(size_t index, const InterleavedTraffic& traffic, bool midway, bool lose);

  // Whether a frame waits; false when done, or when only the close is left
  // and closing is not yet allowed.
  bool ready(bool mayClose);
  bool done() const { return stage_ == Stage::Done && next_ == queue_.size(); }
  QueuedFrame& front() { return queue_[next_]; }
  void pop() { ++next_; }

  const Endpoint& client() const { return client_; }
  ExpectedMessages& expectation() { return expected_; }
  const ExpectedMessages& expectation() const { return expected_; }

 private:
  enum class Stage : uint8_t { Connecting, Talking, Closing, Done };

  void refill(bool mayClose);
  void connect();
  void talk();
  void close();
  void sendBurst(Burst& burst);
  bool timeToLose(size_t burstLength) const;
  void loseOneSegment(Side from);
  void cutSegments(Side from, bool final);
  size_t chooseCut(const Outbox& box, bool sendAll);
  void sendSegment(Side from, size_t length, bool lost);
  bool ensureFollower(Side from);
  void afterBurst(Side from);
  void appendMessage(Side from, const Bytes& message);

  QueuedFrame dataFrame(Side from, size_t length);
  void push(QueuedFrame frame);
  Fate midwayFate(const QueuedFrame& frame);
  Outbox& outbox(Side side) { return outboxes_[sideIndex(side)]; }

  const InterleavedTraffic* traffic_;
  Endpoint client_;
  TcpConnection tcp_;
  ClientConversation conversation_;
  Dice dice_;
  std::array<Outbox, 2> outboxes_;
  std::vector<QueuedFrame> queue_;
  size_t next_ = 0;
  std::optional<QueuedFrame> held_;  // waits for the next segment of its side, to go out behind it
  ExpectedMessages expected_;
  Stage stage_ = Stage::Connecting;
  bool noSwapNext_ = false;
  std::array<bool, 2> sentData_ = {false, false};
  // The mid-way start: frames before skipFrames_ are missed, then each side
  // from a segment that starts at a message.
  bool midway_;
  std::array<bool, 2> midwayStarted_ = {false, false};
  uint32_t framesBuilt_ = 0;
  uint32_t skipFrames_ = 0;
  // The loss, once the side has had lossAfterBursts_ bursts.
  bool lossPending_;
  Side lossSide_ = Side::Server;
  uint32_t lossAfterBursts_ = 0;
  std::array<uint32_t, 2> bursts_ = {0, 0};
};

ClientConnection::ClientConnection(size_t index, const InterleavedTraffic& traffic, bool midway, bool lose)
    : traffic_(&traffic),
      client_(clientEndpoint(index, traffic)),
      tcp_(client_, serverFor(client_), seedFor(traffic.seed, index * kPurposes + kInitialSequences),
           seedFor(traffic.seed, ~(index * kPurposes + kInitialSequences))),
      conversation_(seedFor(traffic.seed, index * kPurposes + kConversation), traffic.messagesPerClient,
                    static_cast<uint32_t>(index)),
      dice_(seedFor(traffic.seed, index * kPurposes + kSegments)),
      midway_(midway),
      lossPending_(lose) {
  expected_.reserve(2 * traffic.messagesPerClient + (lose ? 1 : 0));
  if (midway_) skipFrames_ = 6 + dice_.roll(4);
  if (lossPending_) {
    lossSide_ = dice_.chance(50) ? Side::Client : Side::Server;
    lossAfterBursts_ = 1 + dice_.roll(6);
  }
}

bool ClientConnection::ready(bool mayClose) {
  while (next_ == queue_.size()) {
    if (stage_ == Stage::Done || (stage_ == Stage::Closing && !mayClose)) return false;
    queue_.clear();
    next_ = 0;
    refill(mayClose);
  }
  return true;
}

void ClientConnection::refill(bool mayClose) {
  switch (stage_) {
    case Stage::Connecting: connect(); break;
    case Stage::Talking: talk(); break;
    case Stage::Closing:
      if (mayClose) close();
      break;
    case Stage::Done: break;
  }
}

void ClientConnection::connect() {
  push({tcp_.syn()});
  push({tcp_.synAck()});
  for (const Side side : {Side::Client, Side::Server}) expected_.startAt(side, tcp_.nextSequence(side));
  QueuedFrame handshakeAck{tcp_.handshakeAck()};
  handshakeAck.opens = true;
  push(std::move(handshakeAck));
  // The protocol byte stays the client's first data segment.
  outbox(Side::Client).append(protocolByte());
  noSwapNext_ = true;
  sendSegment(Side::Client, 1, false);
  stage_ = Stage::Talking;
}

void ClientConnection::talk() {
  Burst burst = conversation_.next();
  if (!burst.messages.empty()) {
    sendBurst(burst);
    return;
  }
  for (const Side side : {Side::Client, Side::Server}) cutSegments(side, true);
  stage_ = Stage::Closing;
}

void ClientConnection::close() {
  for (TcpPacket packet : {tcp_.fin(Side::Client), tcp_.fin(Side::Server), tcp_.ack(Side::Client)}) {
    QueuedFrame frame{std::move(packet)};
    frame.closes = true;
    push(std::move(frame));
  }
  stage_ = Stage::Done;
}

void ClientConnection::sendBurst(Burst& burst) {
  const Side from = burst.from;
  const bool losing = lossPending_ && from == lossSide_ && timeToLose(burst.messages.size());
  if (losing && burst.messages.size() < 2) burst.messages.push_back(*conversation_.another(from));
  ++bursts_[sideIndex(from)];
  for (const Bytes& message : burst.messages) appendMessage(from, message);
  if (losing) loseOneSegment(from);
  cutSegments(from, conversation_.left(from) == 0);
  afterBurst(from);
}

// Bursts hold at most kMaxBurst messages while a loss waits, so a burst of
// two or more always comes before the side runs out.
bool ClientConnection::timeToLose(size_t burstLength) const {
  const size_t available = burstLength + conversation_.left(lossSide_);
  return available >= 2 &&
         (bursts_[sideIndex(lossSide_)] >= lossAfterBursts_ || available <= ClientConversation::kMaxBurst + 1);
}

// The lost segment holds exactly the burst's first message, so the stream
// after it starts at a message; the segment after it follows at once and
// keeps its place.
void ClientConnection::loseOneSegment(Side from) {
  const Outbox& box = outbox(from);
  noSwapNext_ = true;
  if (!box.atBoundary()) sendSegment(from, box.toBoundary(), false);
  sendSegment(from, box.toBoundary(), true);
  noSwapNext_ = true;
  lossPending_ = false;
}

void ClientConnection::appendMessage(Side from, const Bytes& message) {
  Outbox& box = outbox(from);
  box.append(message);
  const uint32_t end = tcp_.nextSequence(from) + static_cast<uint32_t>(box.unsent());
  expected_.queued(from, end, message[1], static_cast<uint16_t>(message[2] | message[3] << 8));
}

// Cuts what the side has written into segments. A side that will speak
// again may keep the tail of its last message back, to go out with the head
// of its next one.
void ClientConnection::cutSegments(Side from, bool final) {
  const Outbox& box = outbox(from);
  while (box.unsent() > 0) {
    const size_t length = chooseCut(box, final || held_.has_value());
    if (length == 0) break;
    sendSegment(from, length, false);
  }
}

size_t ClientConnection::chooseCut(const Outbox& box, bool sendAll) {
  const size_t restOfMessage = std::min(box.toBoundary(), kMaxSegmentPayload);
  if (!traffic_->split) return restOfMessage;
  if (!sendAll && box.inLastMessage() && !box.atBoundary() && dice_.chance(kKeepTailPercent)) return 0;
  const size_t most = std::min(box.unsent(), kMaxSegmentPayload);
  switch (dice_.roll(8)) {
    case 0: return 1;
    case 1: return box.atBoundary() && restOfMessage > kHeaderLength ? kHeaderLength : restOfMessage;
    case 2:
    case 3: return 1 + dice_.roll(static_cast<uint32_t>(most));
    case 4: return most;
    default: return restOfMessage;
  }
}

// A segment chosen to be swapped waits for the side's next one and goes out
// right behind it, so no frame of the peer comes between the two.
void ClientConnection::sendSegment(Side from, size_t length, bool lost) {
  QueuedFrame frame = dataFrame(from, length);
  if (lost) {
    frame.fate = Fate::Lost;
    push(std::move(frame));
    return;
  }
  if (held_) {
    push(std::move(frame));
    push(std::move(*held_));
    held_.reset();
    return;
  }
  const bool swappable = !std::exchange(noSwapNext_, false) && !midway_ && traffic_->swapPercent > 0;
  if (swappable && dice_.chance(traffic_->swapPercent) && ensureFollower(from)) {
    held_ = std::move(frame);
    return;
  }
  push(std::move(frame));
}

// The side's next segment: what it still has to send, or one more message.
bool ClientConnection::ensureFollower(Side from) {
  if (outbox(from).unsent() > 0) return true;
  if (lossPending_) return false;
  std::optional<Bytes> message = conversation_.another(from);
  if (!message) return false;
  appendMessage(from, *message);
  return true;
}

// The peer acknowledges now and then without data, as delayed
// acknowledgements do; an idle side sometimes probes with a keep-alive.
void ClientConnection::afterBurst(Side from) {
  if (dice_.chance(kPeerAckPercent)) push({tcp_.ack(other(from))});
  if (!traffic_->keepAlive || !dice_.chance(kKeepAlivePercent)) return;
  const Side prober = dice_.chance(50) ? Side::Client : Side::Server;
  if (!sentData_[sideIndex(prober)] || outbox(prober).unsent() > 0) return;
  QueuedFrame probe{tcp_.keepAlive(prober)};
  probe.sequence = tcp_.nextSequence(prober) - 1;
  probe.payloadLength = 1;
  push(std::move(probe));
  push({tcp_.ack(other(prober))});
}

QueuedFrame ClientConnection::dataFrame(Side from, size_t length) {
  Outbox& box = outbox(from);
  QueuedFrame frame;
  frame.sequence = tcp_.nextSequence(from);
  frame.payloadLength = static_cast<uint16_t>(length);
  frame.newData = true;
  frame.startsAtMessage = box.atBoundary();
  frame.packet = tcp_.data(from, box.peek(length));
  box.consume(length);
  sentData_[sideIndex(from)] = true;
  return frame;
}

void ClientConnection::push(QueuedFrame frame) {
  if (midway_ && frame.fate == Fate::Captured) frame.fate = midwayFate(frame);
  queue_.push_back(std::move(frame));
}

Fate ClientConnection::midwayFate(const QueuedFrame& frame) {
  if (framesBuilt_++ < skipFrames_) return Fate::Missed;
  bool& started = midwayStarted_[sideIndex(frame.packet.from)];
  if (!started && frame.newData && frame.startsAtMessage) expected_.startAt(frame.packet.from, frame.sequence);
  if ((frame.newData && frame.startsAtMessage) || frame.closes) started = true;
  return started ? Fate::Captured : Fate::Missed;
}

struct Retransmission {
  uint64_t due;  // frame number
  uint32_t connection;
  QueuedFrame frame;
};

// All connections and the capture they go into. Up to kTalking connections
// talk at a time; one that is done talking stays open, idle, and the next
// connects. Rounds go over those talking, in small groups visited in random
// order, each connection sending up to four frames. No connection closes
// before all are open, and retransmissions follow their originals a few
// frames later. Few connections talking at once keep the work close
// together in memory, which makes a hundred thousand connections quick to
// write.
class Crowd {
 public:
  Crowd(CaptureWriter& writer, const InterleavedTraffic& traffic);

  bool writeCapture();
  bool writeExpectation(std::FILE* out) const;

 private:
  static constexpr size_t kTalking = 1024;
  static constexpr size_t kGroup = 64;
  static constexpr uint32_t kMostFramesPerVisit = 4;

  bool allOpen() const { return opened_ == connections_.size(); }
  void round();
  bool visit(uint32_t index);
  void emit(uint32_t connection, QueuedFrame& frame);
  void write(uint32_t connection, const QueuedFrame& frame);
  bool retransmitDue(bool atEnd = false);
  void retransmitNow(std::vector<Retransmission>::iterator waiting);
  void retransmitBeforeClose(uint32_t connection);

  CaptureWriter& writer_;
  const InterleavedTraffic& traffic_;
  Dice dice_;
  std::vector<ClientConnection> connections_;
  uint32_t nextToConnect_ = 0;
  std::vector<uint32_t> active_;
  std::vector<uint32_t> parked_;  // done talking, waiting to close
  std::vector<uint32_t> firstSeen_;
  std::vector<bool> seen_;
  size_t opened_ = 0;
  // Only those of the last few frames wait, so a list in the order they
  // were made does.
  std::vector<Retransmission> retransmissions_;
  uint64_t frames_ = 0;
  CaptureTime clock_ = sessionStart();
  bool ok_ = true;
};

Crowd::Crowd(CaptureWriter& writer, const InterleavedTraffic& traffic)
    : writer_(writer), traffic_(traffic), dice_(seedFor(traffic.seed, kScheduler)), seen_(traffic.clients, false) {
  const auto clients = static_cast<uint32_t>(traffic.clients);
  const uint32_t midway = traffic.midway ? dice_.roll(clients) : clients;
  uint32_t losing = traffic.lose ? dice_.roll(clients) : clients;
  if (traffic.lose && losing == midway) losing = (losing + 1) % clients;
  connections_.reserve(clients);
  firstSeen_.reserve(clients);
  for (uint32_t index = 0; index < clients; ++index) {
    connections_.emplace_back(index, traffic, index == midway, index == losing);
  }
}

bool Crowd::writeCapture() {
  while (ok_ && (!active_.empty() || !parked_.empty() || nextToConnect_ < connections_.size())) {
    while (active_.size() < kTalking && nextToConnect_ < connections_.size()) active_.push_back(nextToConnect_++);
    round();
    if (allOpen()) {
      active_.insert(active_.end(), parked_.begin(), parked_.end());
      parked_.clear();
    }
  }
  while (ok_ && retransmitDue(true)) {}
  return writer_.finish() && ok_;
}

// Connections that finish or wait to close leave the round's list.
void Crowd::round() {
  size_t kept = 0;
  for (size_t groupStart = 0; groupStart < active_.size(); groupStart += kGroup) {
    const size_t groupEnd = std::min(groupStart + kGroup, active_.size());
    for (size_t at = groupStart; at + 1 < groupEnd; ++at) {
      std::swap(active_[at], active_[at + dice_.roll(static_cast<uint32_t>(groupEnd - at))]);
    }
    for (size_t at = groupStart; at < groupEnd; ++at) {
      const uint32_t index = active_[at];
      if (visit(index)) active_[kept++] = index;
    }
  }
  active_.resize(kept);
}

bool Crowd::visit(uint32_t index) {
  ClientConnection& connection = connections_[index];
  for (uint32_t frames = dice_.roll(kMostFramesPerVisit + 1); frames > 0; --frames) {
    while (retransmitDue()) {}
    if (!connection.ready(allOpen())) {
      if (!connection.done()) parked_.push_back(index);
      return false;
    }
    emit(index, connection.front());
    connection.pop();
  }
  return true;
}

void Crowd::emit(uint32_t connection, QueuedFrame& frame) {
  if (frame.opens) ++opened_;
  if (frame.closes) retransmitBeforeClose(connection);
  if (frame.fate == Fate::Missed) return;
  ExpectedMessages& expected = connections_[connection].expectation();
  if (frame.fate == Fate::Lost) {
    expected.lost(frame.packet.from, frame.sequence, frame.payloadLength);
    return;
  }
  write(connection, frame);
  if (frame.newData && traffic_.retransmitPercent > 0 && dice_.chance(traffic_.retransmitPercent)) {
    const uint64_t due = frames_ + dice_.roll(kMaxRetransmitDelay);
    retransmissions_.push_back({due, connection, std::move(frame)});
  }
}

void Crowd::write(uint32_t connection, const QueuedFrame& frame) {
  if (!seen_[connection]) {
    seen_[connection] = true;
    firstSeen_.push_back(connection);
  }
  clock_ += std::chrono::microseconds(1 + dice_.roll(kMaxFrameGap));
  ok_ = ok_ && writer_.writePacket(clock_, frame.packet.bytes, frame.packet.from == Side::Client);
  ++frames_;
  connections_[connection].expectation().captured(frame.packet.from, frame.sequence, frame.payloadLength);
}

// A retransmission goes out once its frame number has come: 1 to 5 frames
// after the original (later when several fall due together), or at the end
// of the capture, whatever its number.
bool Crowd::retransmitDue(bool atEnd) {
  const auto first = std::min_element(retransmissions_.begin(), retransmissions_.end(),
                                      [](const Retransmission& a, const Retransmission& b) { return a.due < b.due; });
  if (first == retransmissions_.end() || (first->due > frames_ && !atEnd)) return false;
  retransmitNow(first);
  return true;
}

void Crowd::retransmitNow(std::vector<Retransmission>::iterator waiting) {
  const Retransmission retransmission = std::move(*waiting);
  retransmissions_.erase(waiting);
  write(retransmission.connection, retransmission.frame);
}

// A stack retransmits before its FIN, never after the close: a
// connection's waiting retransmissions go out first.
void Crowd::retransmitBeforeClose(uint32_t connection) {
  for (auto waiting = retransmissions_.begin(); waiting != retransmissions_.end();) {
    if (waiting->connection != connection) {
      ++waiting;
      continue;
    }
    retransmitNow(waiting);
    waiting = retransmissions_.begin();
  }
}

bool Crowd::writeExpectation(std::FILE* out) const {
  for (const uint32_t index : firstSeen_) {
    const ClientConnection& connection = connections_[index];
    if (!connection.expectation().write(out, clientText(connection.client()))) return false;
  }
  return std::fflush(out) == 0 && std::ferror(out) == 0;
}

}  // namespace

InterleavedResult writeInterleavedTraffic(CaptureWriter& writer, const InterleavedTraffic& traffic,
                                          std::FILE* expectation) {
  Crowd crowd(writer, traffic);
  InterleavedResult result;
  result.captureWritten = crowd.writeCapture();
  result.expectationWritten = expectation == nullptr || crowd.writeExpectation(expectation);
  return result;
}

}  // namespace vestrel::wire
