#include "message_stream.h"

namespace vestrel::wire {

namespace {

struct Origin {
  uint16_t clientPort;
  bool sent;
  bool operator==(const Origin&) const = default;
};

Origin originOf(const TcpSegmentSeen& segment) {
  const bool sent = segment.destinationPort == kChatPort;
  return {sent ? segment.sourcePort : segment.destinationPort, sent};
}

size_t messageLength(const Bytes& stream) { return size_t{stream[2]} | size_t{stream[3]} << 8; }

}  // namespace

StreamCut cutIntoMessages(const std::vector<TcpSegmentSeen>& segments) {
  StreamCut cut;
  Bytes stream;
  Origin streamOrigin{0, false};
  for (size_t index = 0; index < segments.size(); ++index) {
    const TcpSegmentSeen& segment = segments[index];
    if (segment.payload.size() <= 1) continue;
    const Origin origin = originOf(segment);
    if (!stream.empty() && !(origin == streamOrigin)) {
      cut.problems.push_back("segment " + std::to_string(index) + " arrives while " + std::to_string(stream.size()) +
                             " bytes of another side's message wait");
    }
    streamOrigin = origin;
    stream = stream + segment.payload;

    size_t dropped = 0;
    while (!stream.empty()) {
      if (stream[0] != 0xFF) {
        stream.erase(stream.begin());
        ++dropped;
        continue;
      }
      if (stream.size() < 4 || messageLength(stream) > stream.size()) break;
      const size_t length = messageLength(stream);
      if (length < 4) {
        cut.problems.push_back("segment " + std::to_string(index) + " holds a message shorter than its header");
        stream.clear();
        break;
      }
      cut.messages.push_back({origin.clientPort, origin.sent, stream[1], head(stream, length), index});
      stream = tail(stream, length);
    }
    if (!stream.empty()) cut.cutAfter.push_back(index);
    if (dropped != 0) {
      cut.droppedAt.push_back(index);
      cut.droppedBytes += dropped;
    }
  }
  cut.leftOver = stream.size();
  return cut;
}

}  // namespace vestrel::wire
