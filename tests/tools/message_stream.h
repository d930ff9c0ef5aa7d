// Cuts the payloads of a capture into protocol messages the way the monitor
// does: one stream for every connection and both directions, a segment of a
// lone byte passed over, bytes in front of a marker dropped. It also notes
// what the monitor could not follow: another segment arriving while a
// message is still incomplete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_reading.h"

namespace vestrel::wire {

struct StreamMessage {
  uint16_t clientPort;  // which connection
  bool sent;            // client to server
  uint8_t id;
  Bytes bytes;
  size_t segment;  // index of the segment that completed it
};

struct StreamCut {
  std::vector<StreamMessage> messages;
  std::vector<size_t> droppedAt;  // index of each segment whose leading bytes were dropped
  size_t droppedBytes = 0;
  std::vector<size_t> cutAfter;  // index of each segment that left a message incomplete
  std::vector<std::string> problems;
  size_t leftOver = 0;  // bytes of an unfinished message at the end
};

inline constexpr uint16_t kChatPort = 6112;

StreamCut cutIntoMessages(const std::vector<TcpSegmentSeen>& segments);

}  // namespace vestrel::wire
