// Each connection of a capture put back together the plain way: every
// direction's payloads sorted by sequence number, repeats passed over, gaps
// noted, and the bytes cut into messages by their length fields. What it
// finds is written in the lines of vestrel-gen's expectation file, so the
// two can be compared.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "capture_reading.h"

namespace vestrel::wire {

struct ReassembledCapture {
  // "10.0.3.7:40012", "[fd00::5]:40013": those with lines, in order of
  // their first frame.
  std::vector<std::string> clients;
  // By client, then sent (client to server) or not: the lines of that
  // direction, "CLIENT Sent 0x0E 23" or "CLIENT lost Rcvd 61".
  std::map<std::string, std::map<bool, std::vector<std::string>>> lines;
  std::vector<std::string> problems;  // a message cut off by a gap or the end
};

ReassembledCapture reassembleConnections(const std::vector<TcpSegmentSeen>& segments);

// The client as the expectation names it, from a segment of its connection.
std::string clientOf(const TcpSegmentSeen& segment);

}  // namespace vestrel::wire
