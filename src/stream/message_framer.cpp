#include "stream/message_framer.h"

#include <algorithm>
#include <cstring>

#include "stream/stream_buffer.h"

namespace vestrel {

namespace {

// Storage kept after a message completes; a larger one is given back, so
// that thousands of idle connections hold no buffers.
constexpr size_t kKeptCapacity = 256;

// The offset of the next marker after the first byte, or the size.
size_t nextMarker(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2) return bytes.size();
  const void* marker = std::memchr(bytes.data() + 1, MessageHeader::kMarker, bytes.size() - 1);
  return marker != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(marker) - bytes.data()) : bytes.size();
}

}  // namespace

void MessageFramer::resynchronise() {
  pending_.clear();
  discardOwed_ = 0;
  skipped_ = 0;
  synchronising_ = true;
}

// Passes over the bytes up to the next marker, counting them.
size_t MessageFramer::passOver(std::span<const uint8_t> bytes) {
  const size_t passed = nextMarker(bytes);
  skipped_ += passed;
  return passed;
}

void MessageFramer::tellSkipped(FramedOutput& output) {
  if (skipped_ == 0) return;
  output.skipped(skipped_);
  skipped_ = 0;
}

void MessageFramer::breakOff(FramedOutput& output) {
  tellSkipped(output);
  if (discardOwed_ != 0) {
    output.incomplete(tooLongLength_ - discardOwed_, tooLongLength_);
  } else if (!pending_.empty()) {
    const bool headerCame = pending_.size() >= static_cast<size_t>(MessageHeader::kLength);
    output.incomplete(pending_.size(), headerCame ? MessageHeader::read(pending_.data()).length : 0);
  }
  resynchronise();
}

size_t MessageFramer::dropOwed(std::span<const uint8_t> bytes) {
  const size_t dropped = std::min<size_t>(discardOwed_, bytes.size());
  discardOwed_ -= static_cast<uint32_t>(dropped);
  return dropped;
}

// Takes every whole message off the front of bytes; returns how many bytes
// were used up (messages, and bytes that cannot start one).
size_t MessageFramer::drain(std::span<const uint8_t> bytes, FramedOutput& output) {
  size_t used = 0;
  for (;;) {
    const std::span<const uint8_t> rest = bytes.subspan(used);
    if (synchronising_ && !rest.empty() && rest[0] != MessageHeader::kMarker) {
      used += passOver(rest);
      continue;
    }
    switch (classifyFront(rest)) {
      case StreamFront::NeedMore: return used;
      case StreamFront::Message: {
        MessageReader reader;
        reader.attach(rest.data());
        used += static_cast<size_t>(reader.size());
        synchronising_ = false;
        tellSkipped(output);
        output.message(reader);
        break;
      }
      case StreamFront::OutOfStep: used += passOver(rest); break;
      case StreamFront::TooLong: {
        // While looking for a header, a huge length is one more reason to
        // believe this is not one.
        if (synchronising_) {
          used += passOver(rest);
          break;
        }
        const MessageHeader header = MessageHeader::read(rest.data());
        tellSkipped(output);
        output.tooLong(header);
        tooLongLength_ = header.length;
        const size_t stored = std::min<size_t>(header.length, rest.size());
        used += stored;
        discardOwed_ = static_cast<uint32_t>(header.length - stored);
        return used;
      }
    }
  }
}

// Moves into pending as many bytes as its front message still needs: the
// rest of the header, then the rest of the message.
void MessageFramer::topUp(std::span<const uint8_t>& bytes) {
  size_t wanted = MessageHeader::kLength;
  if (pending_.size() >= static_cast<size_t>(MessageHeader::kLength)) {
    wanted = std::max<size_t>(MessageHeader::read(pending_.data()).length, MessageHeader::kLength);
    wanted = std::min(wanted, kStreamCapacity);
  }
  const size_t taken = std::min(bytes.size(), wanted > pending_.size() ? wanted - pending_.size() : 0);
  pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
  bytes = bytes.subspan(taken);
}

void MessageFramer::feed(std::span<const uint8_t> bytes, FramedOutput& output) {
  while (!bytes.empty()) {
    if (discardOwed_ != 0) {
      bytes = bytes.subspan(dropOwed(bytes));
      continue;
    }
    if (pending_.empty()) {
      // The common case: messages are taken straight from the segment, and
      // only a message cut at its end waits.
      bytes = bytes.subspan(drain(bytes, output));
      if (discardOwed_ != 0) continue;
      pending_.assign(bytes.begin(), bytes.end());
      break;
    }
    topUp(bytes);
    const size_t used = drain(pending_, output);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  }
  if (pending_.empty() && pending_.capacity() > kKeptCapacity) std::vector<uint8_t>().swap(pending_);
}

}  // namespace vestrel
