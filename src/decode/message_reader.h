// A cursor over one message held in the stream buffer. Decoders read every
// field through it; no read ever leaves the message: the missing bytes of a
// number read as 0, a text stops at the message's end, and a read that
// starts past the end yields 0 or an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vestrel {

// The four bytes that open every message on the wire.
struct MessageHeader {
  static constexpr uint8_t kMarker = 0xFF;
  static constexpr int32_t kLength = 4;

  uint8_t marker = 0;
  uint8_t id = 0;
  uint16_t length = 0;  // whole message, header included; little-endian on the wire

  static MessageHeader read(const uint8_t* bytes) {
    return {bytes[0], bytes[1], static_cast<uint16_t>(bytes[2] | bytes[3] << 8)};
  }
};

class MessageReader {
 public:
  // message points at a header whose length field is at least 4 and whose
  // bytes are all stored.
  void attach(const uint8_t* message);

  uint8_t id() const { return message_[1]; }
  int32_t size() const { return size_; }
  int32_t position() const { return pos_; }
  std::span<const uint8_t> bytes() const;

  uint32_t readDword();
  uint8_t readByte();
  std::string_view readString();
  // The next count bytes, as far as the message holds them; the position
  // moves on by count all the same, as for a number.
  std::span<const uint8_t> readBytes(size_t count);
  // Counts beyond any message are cut, so the position cannot overflow.
  void skip(size_t count) { pos_ += static_cast<int32_t>(count < 0x10000 ? count : 0x10000); }
  bool atEnd() const { return pos_ == size_; }
  // True once no byte of the message is left to read.
  bool exhausted() const { return pos_ >= size_; }
  // The bytes not read yet (none once a read went past the end).
  std::span<const uint8_t> rest() const;

 private:
  const uint8_t* message_ = nullptr;
  const uint8_t* data_ = nullptr;
  int32_t pos_ = 0;
  int32_t size_ = 0;
};

}  // namespace vestrel
