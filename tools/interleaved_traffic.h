// Many chat clients connected to one server at the same time, their
// segments interleaved in one capture, with the faults that networks and
// capture points bring: messages cut anywhere, retransmissions, segments
// swapped in order, keep-alive probes, a connection caught mid-way and a
// segment the capture lost. Beside the capture it writes what a correct
// reassembler of each connection shows, so such a reassembler can be
// checked against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "capture_writer.h"

namespace vestrel::wire {

inline constexpr uint32_t kDefaultTrafficSeed = 6112;

struct InterleavedTraffic {
  size_t clients = 1;
  size_t messagesPerClient = 10;  // each way
  size_t ipv6Clients = 0;         // the last ones
  bool split = false;             // messages cut at any byte, several in a segment
  uint32_t retransmitPercent = 0;
  uint32_t swapPercent = 0;
  bool keepAlive = false;
  bool midway = false;  // one connection's start is not in the capture
  bool lose = false;    // one connection loses one segment of whole messages
  uint32_t seed = kDefaultTrafficSeed;
};

struct InterleavedResult {
  bool captureWritten = false;
  bool expectationWritten = false;
};

// Writes the capture and, given a stream for it, the expectation: for each
// connection in the order of its first frame in the capture, a line for
// each message in the order the capture completes it (every byte of it and
// before it in its direction shown), and one for the lost segment where the
// stream goes on after it:
//   10.0.3.7:40012 Sent 0x0E 23
//   [fd00::5]:40013 Rcvd 0x0F 61
//   10.0.3.7:40012 lost Rcvd 58
// The same request always writes the same bytes.
InterleavedResult writeInterleavedTraffic(CaptureWriter& writer, const InterleavedTraffic& traffic,
                                          std::FILE* expectation);

}  // namespace vestrel::wire
