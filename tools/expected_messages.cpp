#include "expected_messages.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <string_view>

namespace vestrel::wire {

namespace {

// Sequence numbers wrap: a is after b when the distance from b is short.
bool after(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

const char* directionName(bool sent) { return sent ? "Sent" : "Rcvd"; }

}  // namespace

std::string clientText(const Endpoint& client) {
  const bool ipv6 = client.version == IpVersion::V6;
  char address[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(ipv6 ? AF_INET6 : AF_INET, client.address.data(), address, sizeof address) == nullptr) return "?";
  const std::string port = std::to_string(client.port);
  return ipv6 ? "[" + std::string(address) + "]:" + port : std::string(address) + ":" + port;
}

void ExpectedMessages::queued(Side from, uint32_t end, uint8_t id, uint16_t length) {
  stream(from).pending.push_back({end, id, length});
}

void ExpectedMessages::startAt(Side from, uint32_t sequence) {
  Stream& seen = stream(from);
  seen.started = true;
  seen.contiguousEnd = sequence;
  passOver(seen, sequence);
}

void ExpectedMessages::captured(Side from, uint32_t sequence, size_t length) {
  Stream& seen = stream(from);
  const uint32_t end = sequence + static_cast<uint32_t>(length);
  if (!seen.started || !after(end, seen.contiguousEnd)) return;
  if (after(sequence, seen.contiguousEnd)) {
    seen.holding = true;
    seen.heldStart = sequence;
    seen.heldEnd = end;
    return;
  }
  seen.contiguousEnd = end;
  if (seen.holding && !after(seen.heldStart, seen.contiguousEnd)) {
    if (after(seen.heldEnd, seen.contiguousEnd)) seen.contiguousEnd = seen.heldEnd;
    seen.holding = false;
  }
  complete(from);
}

void ExpectedMessages::lost(Side from, uint32_t sequence, size_t length) {
  Stream& seen = stream(from);
  lines_.push_back({static_cast<uint32_t>(length), 0, from == Side::Client, true});
  seen.contiguousEnd = sequence + static_cast<uint32_t>(length);
  passOver(seen, seen.contiguousEnd);
}

void ExpectedMessages::complete(Side from) {
  Stream& seen = stream(from);
  while (seen.nextPending < seen.pending.size() && !after(seen.pending[seen.nextPending].end, seen.contiguousEnd)) {
    const Pending& message = seen.pending[seen.nextPending++];
    lines_.push_back({message.length, message.id, from == Side::Client, false});
  }
  if (seen.nextPending == seen.pending.size()) {
    seen.pending.clear();
    seen.nextPending = 0;
  }
}

// Messages wholly before the sequence number are never shown.
void ExpectedMessages::passOver(Stream& stream, uint32_t sequence) {
  while (stream.nextPending < stream.pending.size() && !after(stream.pending[stream.nextPending].end, sequence)) {
    ++stream.nextPending;
  }
}

// Written a connection at a time, without printf: a capture of many
// clients has millions of lines.
bool ExpectedMessages::write(std::FILE* out, const std::string& client) const {
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  std::string text;
  text.reserve(lines_.size() * (client.size() + 16));
  for (const Line& line : lines_) {
    text += client;
    text += line.lost ? " lost " : " ";
    text += directionName(line.sent);
    if (!line.lost) {
      text += " 0x";
      text += kHexDigits[line.id >> 4];
      text += kHexDigits[line.id & 0x0F];
    }
    text += ' ';
    text += std::to_string(line.bytes);
    text += '\n';
  }
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace vestrel::wire
