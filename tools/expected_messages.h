// What a reassembler that follows each TCP connection on its own must show
// for a generated capture: each message once, when the capture has shown it
// and every byte before it in its direction, and the bytes of a segment the
// capture lost, where the stream resumes after it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tcp_packets.h"

namespace vestrel::wire {

// The client as the expectation names it: 10.0.3.7:40012, [fd00::5]:40013.
std::string clientText(const Endpoint& client);

class ExpectedMessages {
 public:
  // Room for the lines a connection is known to have.
  void reserve(size_t lines) { lines_.reserve(lines); }
  // Where the capture shows the side's stream from: its first data after
  // the handshake, or a message mid-way through the connection. Messages
  // before it are not shown.
  void startAt(Side from, uint32_t sequence);
  // A message the side has put into its stream, ending before sequence
  // number end.
  void queued(Side from, uint32_t end, uint8_t id, uint16_t length);
  // A segment's payload as the capture shows it: new bytes, a
  // retransmission, a keep-alive byte, or bytes ahead of a gap.
  void captured(Side from, uint32_t sequence, size_t length);
  // A segment the capture never shows; it holds whole messages.
  void lost(Side from, uint32_t sequence, size_t length);

  // One line each, "CLIENT Sent 0x0E 23" or "CLIENT lost Rcvd 61".
  bool write(std::FILE* out, const std::string& client) const;

 private:
  struct Pending {
    uint32_t end;
    uint8_t id;
    uint16_t length;
  };
  // The capture's view of one direction: how far it runs without a gap, and
  // a segment seen ahead of the gap (swapped segments come one at a time).
  struct Stream {
    bool started = false;
    bool holding = false;
    uint32_t contiguousEnd = 0;
    uint32_t heldStart = 0;
    uint32_t heldEnd = 0;
    std::vector<Pending> pending;
    size_t nextPending = 0;
  };
  // Eight bytes: a capture of many clients keeps millions of them.
  struct Line {
    uint32_t bytes;  // the message's length field, or the bytes lost
    uint8_t id;
    bool sent;
    bool lost;
  };

  Stream& stream(Side side) { return streams_[side == Side::Client ? 0 : 1]; }
  void complete(Side from);
  static void passOver(Stream& stream, uint32_t sequence);

  std::array<Stream, 2> streams_;
  std::vector<Line> lines_;
};

}  // namespace vestrel::wire
