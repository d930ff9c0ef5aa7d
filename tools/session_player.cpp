#include "session_player.h"

namespace vestrel::wire {

namespace {

// How long a host takes to answer a segment that needs no thought.
constexpr std::chrono::microseconds kTurnaround{45};

}  // namespace

CaptureTime sessionStart() {
  using namespace std::chrono;
  return CaptureTime(sys_days(year(2026) / December / 7) + 10h);
}

SessionPlayer::SessionPlayer(CaptureWriter& writer, CaptureTime start, const std::vector<ConnectionSetup>& connections)
    : writer_(writer), clock_(start) {
  for (const ConnectionSetup& setup : connections) {
    connections_.push_back(
        {setup, TcpConnection(setup.client, setup.server, setup.clientInitialSequence, setup.serverInitialSequence)});
  }
}

bool SessionPlayer::play(const Step& step) {
  wait(step.gap);
  Connection& connection = connections_.at(step.connection);
  switch (step.action) {
    case Action::Open: open(connection); break;
    case Action::Send: send(connection, step.from, step.payload); break;
    case Action::Ack: write(connection.tcp.ack(step.from)); break;
    case Action::Close: close(connection); break;
  }
  return ok_;
}

void SessionPlayer::send(Connection& connection, Side from, const Bytes& payload) {
  const TcpPacket packet = connection.tcp.data(from, payload);
  size_t& sent = dataSegments_[from == Side::Client ? 0 : 1];
  if (!lossy_ || ++sent % 2 == 0) write(packet);
}

// The capture sits with the client: the server's answers arrive a round trip
// after what they answer.
void SessionPlayer::open(Connection& connection) {
  write(connection.tcp.syn());
  wait(connection.setup.roundTrip);
  write(connection.tcp.synAck());
  wait(kTurnaround);
  write(connection.tcp.handshakeAck());
}

void SessionPlayer::close(Connection& connection) {
  write(connection.tcp.fin(Side::Client));
  wait(connection.setup.roundTrip);
  write(connection.tcp.fin(Side::Server));
  wait(kTurnaround);
  write(connection.tcp.ack(Side::Client));
}

void SessionPlayer::write(const TcpPacket& packet) {
  if (ok_) ok_ = writer_.writePacket(clock_, packet.bytes, packet.from == Side::Client);
}

}  // namespace vestrel::wire
