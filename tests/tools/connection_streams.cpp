#include "connection_streams.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "message_stream.h"

namespace vestrel::wire {

namespace {

struct Direction {
  std::optional<uint32_t> synSequence;
  std::vector<const TcpSegmentSeen*> data;
};

bool sentByClient(const TcpSegmentSeen& segment) { return segment.destinationPort == kChatPort; }

std::string messageLine(const std::string& client, bool sent, uint8_t id, size_t length) {
  char text[32];
  static_cast<void>(std::snprintf(text, sizeof text, " 0x%02X %zu", id, length));  // always fits
  return client + (sent ? " Sent" : " Rcvd") + text;
}

std::string lostLine(const std::string& client, bool sent, size_t bytes) {
  return client + " lost " + (sent ? "Sent " : "Rcvd ") + std::to_string(bytes);
}

// Cuts one run of bytes without a gap into messages; it must start at one.
void cutMessages(const Bytes& run, const std::string& client, bool sent, ReassembledCapture& result) {
  size_t at = 0;
  while (at + 4 <= run.size()) {
    const size_t length = size_t{run[at + 2]} | size_t{run[at + 3]} << 8;
    if (run[at] != 0xFF || length < 4 || at + length > run.size()) break;
    result.lines[client][sent].push_back(messageLine(client, sent, run[at + 1], length));
    at += length;
  }
  if (at != run.size()) {
    result.problems.push_back(client + (sent ? " Sent" : " Rcvd") + ": " + std::to_string(run.size() - at) +
                              " bytes that are no whole message");
  }
}

// Sequence order from the first byte after the SYN, or from the lowest
// sequence number when the capture missed the handshake.
void reassemble(const Direction& direction, const std::string& client, bool sent, ReassembledCapture& result) {
  if (direction.data.empty()) return;
  uint32_t base = direction.data.front()->sequence;
  for (const TcpSegmentSeen* segment : direction.data) {
    if (static_cast<int32_t>(segment->sequence - base) < 0) base = segment->sequence;
  }
  if (direction.synSequence) base = *direction.synSequence + 1;
  std::vector<const TcpSegmentSeen*> ordered = direction.data;
  std::stable_sort(ordered.begin(), ordered.end(), [base](const TcpSegmentSeen* a, const TcpSegmentSeen* b) {
    return a->sequence - base < b->sequence - base;
  });
  // The protocol byte, alone in the client's first segment, comes before
  // its messages.
  const bool protocolByteFirst = sent && direction.synSequence;
  if (protocolByteFirst && (ordered.front()->sequence != base || ordered.front()->payload != byte(0x01))) {
    result.problems.push_back(client + ": no protocol byte first");
  }
  Bytes run;
  size_t covered = protocolByteFirst ? 1 : 0;
  for (const TcpSegmentSeen* segment : ordered) {
    const size_t offset = segment->sequence - base;
    if (offset + segment->payload.size() <= covered) continue;
    if (offset > covered) {
      cutMessages(run, client, sent, result);
      result.lines[client][sent].push_back(lostLine(client, sent, offset - covered));
      run.clear();
      covered = offset;
    }
    run = run + tail(segment->payload, covered - offset);
    covered = offset + segment->payload.size();
  }
  cutMessages(run, client, sent, result);
}

}  // namespace

std::string clientOf(const TcpSegmentSeen& segment) {
  const bool sent = sentByClient(segment);
  const Bytes& address = sent ? segment.sourceAddress : segment.destinationAddress;
  const uint16_t port = sent ? segment.sourcePort : segment.destinationPort;
  char text[INET6_ADDRSTRLEN] = {};
  const bool ipv6 = address.size() == 16;
  inet_ntop(ipv6 ? AF_INET6 : AF_INET, address.data(), text, sizeof text);
  return ipv6 ? "[" + std::string(text) + "]:" + std::to_string(port) : std::string(text) + ":" + std::to_string(port);
}

ReassembledCapture reassembleConnections(const std::vector<TcpSegmentSeen>& segments) {
  ReassembledCapture result;
  std::map<std::string, std::map<bool, Direction>> connections;
  for (const TcpSegmentSeen& segment : segments) {
    const std::string client = clientOf(segment);
    if (!connections.contains(client)) result.clients.push_back(client);
    Direction& direction = connections[client][sentByClient(segment)];
    if ((segment.flags & kSyn) != 0) direction.synSequence = segment.sequence;
    if (!segment.payload.empty()) direction.data.push_back(&segment);
  }
  for (const auto& [client, directions] : connections) {
    for (const auto& [sent, direction] : directions) reassemble(direction, client, sent, result);
  }
  std::erase_if(result.clients, [&](const std::string& client) { return !result.lines.contains(client); });
  return result;
}

}  // namespace vestrel::wire
