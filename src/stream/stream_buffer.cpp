#include "stream/stream_buffer.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

bool StreamBuffer::append(const uint8_t* bytes, int32_t length) {
  if (length <= 0) return length == 0;
  size_t incoming = static_cast<size_t>(length);
  if (incoming > acceptable()) return false;

  const size_t passedOver = std::min<size_t>(discardOwed_, incoming);
  discardOwed_ -= static_cast<uint32_t>(passedOver);
  bytes += passedOver;
  incoming -= passedOver;

  if (kStreamCapacity - count_ - start_ < incoming) {
    std::memmove(storage_.data(), storage_.data() + start_, count_);
    start_ = 0;
  }
  std::memcpy(storage_.data() + start_ + count_, bytes, incoming);
  count_ = static_cast<uint16_t>(count_ + incoming);
  return true;
}

StreamFront classifyFront(std::span<const uint8_t> pending) {
  if (pending.size() < MessageHeader::kLength) return StreamFront::NeedMore;
  const MessageHeader header = MessageHeader::read(pending.data());
  if (header.length < MessageHeader::kLength) return StreamFront::OutOfStep;
  if (header.length > kStreamCapacity) {
    return header.marker == MessageHeader::kMarker ? StreamFront::TooLong : StreamFront::OutOfStep;
  }
  return header.length <= pending.size() ? StreamFront::Message : StreamFront::NeedMore;
}

StreamBuffer::Front StreamBuffer::front() const { return classifyFront(pending()); }

void StreamBuffer::extract(MessageReader& reader) {
  const uint16_t length = frontHeader().length;
  reader.attach(storage_.data() + start_);
  count_ = static_cast<uint16_t>(count_ - length);
  // When the buffer empties, start stays put and the next payload is
  // stored from there, behind the message the reader still points at.
  if (count_ != 0) start_ = static_cast<uint16_t>(start_ + length);
}

void StreamBuffer::dropPending(size_t length) {
  count_ = static_cast<uint16_t>(count_ - length);
  start_ = count_ == 0 ? 0 : static_cast<uint16_t>(start_ + length);
}

void StreamBuffer::dropToNextMarker() {
  const uint8_t* first = storage_.data() + start_;
  const void* marker = count_ > 1 ? std::memchr(first + 1, MessageHeader::kMarker, count_ - 1U) : nullptr;
  dropPending(marker != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(marker) - first) : count_);
}

void StreamBuffer::dropFrontMessage() {
  const size_t length = frontHeader().length;
  const size_t stored = std::min<size_t>(length, count_);
  dropPending(stored);
  discardOwed_ = static_cast<uint32_t>(length - stored);
}

}  // namespace vestrel
