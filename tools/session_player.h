// Plays a chat session, step by step, into a capture: connections open and
// close with their handshakes, payloads go out as data segments, and the
// clock moves on by each step's gap.
#pragma once

#include <chrono>
#include <vector>

#include "capture_writer.h"
#include "tcp_packets.h"

namespace vestrel::wire {

// 2026-12-07 10:00:00 UTC, when every written session starts.
CaptureTime sessionStart();

struct ConnectionSetup {
  Endpoint client;
  Endpoint server;
  uint32_t clientInitialSequence;
  uint32_t serverInitialSequence;
  std::chrono::microseconds roundTrip;  // as seen from the capture, on the client's machine
};

enum class Action { Open, Send, Ack, Close };

struct Step {
  std::chrono::microseconds gap;  // after the previous step
  size_t connection;              // index into the player's connections
  Action action;
  Side from = Side::Client;  // who sends (Send, Ack); Open and Close start at the client
  Bytes payload = {};        // one segment's worth (Send)
};

class SessionPlayer {
 public:
  SessionPlayer(CaptureWriter& writer, CaptureTime start, const std::vector<ConnectionSetup>& connections);

  // False once anything failed to be written.
  bool play(const Step& step);
  // A lossy tap: every other data segment of each side is left out of the
  // capture, though it was sent (and is acknowledged).
  void loseEveryOtherDataSegment() { lossy_ = true; }
  bool finish() { return ok_ && writer_.finish(); }

 private:
  struct Connection {
    ConnectionSetup setup;
    TcpConnection tcp;
  };

  void open(Connection& connection);
  void close(Connection& connection);
  void write(const TcpPacket& packet);
  void send(Connection& connection, Side from, const Bytes& payload);
  void wait(std::chrono::microseconds gap) { clock_ += gap; }

  CaptureWriter& writer_;
  CaptureTime clock_;
  std::vector<Connection> connections_;
  bool ok_ = true;
  bool lossy_ = false;
  size_t dataSegments_[2] = {0, 0};  // by side
};

}  // namespace vestrel::wire
