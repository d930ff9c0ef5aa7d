// Long chat sessions for measuring the monitor: one client connection
// carrying as many chat messages as asked for, in a realistic mix.
#pragma once

#include <cstddef>

#include "capture_writer.h"

namespace vestrel::wire {

struct ChatTraffic {
  size_t messages = 1000;
  bool packed = false;  // runs of one side's messages share segments, or one message each
  bool lossy = false;   // every other data segment of each side missing from the capture
};

// After the handshake and the protocol byte, exactly traffic.messages
// messages: other users talking, joining, leaving, whispering and emoting,
// the client's chat commands, pings with their answers, channel lists. The
// same request always writes the same file.
bool writeChatTraffic(CaptureWriter& writer, const ChatTraffic& traffic);

}  // namespace vestrel::wire
