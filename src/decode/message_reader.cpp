#include "decode/message_reader.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

void MessageReader::attach(const uint8_t* message) {
  message_ = message;
  data_ = message;
  pos_ = MessageHeader::kLength;
  size_ = MessageHeader::read(message).length;
}

std::span<const uint8_t> MessageReader::bytes() const { return {message_, static_cast<size_t>(size_)}; }

std::span<const uint8_t> MessageReader::rest() const {
  if (pos_ >= size_) return {};
  return {data_ + pos_, static_cast<size_t>(size_ - pos_)};
}

uint32_t MessageReader::readDword() {
  if (pos_ >= 0 && pos_ <= size_ - 4) {
    const uint8_t* next = data_ + pos_;
    pos_ += 4;
    return uint32_t{next[0]} | uint32_t{next[1]} << 8 | uint32_t{next[2]} << 16 | uint32_t{next[3]} << 24;
  }
  // Bytes past the message's end read as zeros.
  uint32_t value = 0;
  for (int32_t i = 0; i < 4; ++i) {
    if (pos_ + i < size_) value |= uint32_t{data_[pos_ + i]} << (8 * i);
  }
  pos_ += 4;
  return value;
}

uint8_t MessageReader::readByte() {
  const uint8_t value = pos_ < size_ ? data_[pos_] : 0;
  ++pos_;
  return value;
}

std::span<const uint8_t> MessageReader::readBytes(size_t count) {
  const size_t available = pos_ < size_ ? static_cast<size_t>(size_ - pos_) : 0;
  const std::span<const uint8_t> present(data_ + (pos_ < size_ ? pos_ : size_), std::min(count, available));
  skip(count);
  return present;
}

std::string_view MessageReader::readString() {
  if (pos_ >= size_) return {};
  const auto* text = reinterpret_cast<const char*>(data_ + pos_);
  const size_t available = static_cast<size_t>(size_ - pos_);
  const void* terminator = std::memchr(text, 0, available);
  const size_t length =
      terminator != nullptr ? static_cast<size_t>(static_cast<const char*>(terminator) - text) : available;
  // Step over the terminator too; a text cut by the message's end has none,
  // which leaves pos one past the end, where every later read is empty.
  pos_ += static_cast<int32_t>(length) + 1;
  return {text, length};
}

}  // namespace vestrel
