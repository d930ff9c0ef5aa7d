// The reassembly buffer: TCP payloads go in, whole messages come out, cut
// by the length field of each message's header. One buffer serves the whole
// run, both directions and every connection.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/message_reader.h"

namespace vestrel {

inline constexpr size_t kStreamCapacity = 4096;

// What the bytes at the front of a stream amount to.
enum class StreamFront {
  NeedMore,   // not yet a whole message (or nothing stored)
  Message,    // a whole message, ready to extract
  OutOfStep,  // the header cannot start a message: the stream lost step
  TooLong,    // a marked header announcing more than a stream holds
};

// Classifies the bytes waiting at the front of a stream.
StreamFront classifyFront(std::span<const uint8_t> pending);

class StreamBuffer {
 public:
  using Front = StreamFront;

  // Stores all length bytes, or none of them and returns false. Bytes still
  // owed to a message that was too long are passed over first.
  bool append(const uint8_t* bytes, int32_t length);
  // How many bytes append would take now (it compacts the storage first).
  size_t acceptable() const { return discardOwed_ + (kStreamCapacity - count_); }

  Front front() const;
  bool hasMessage() const { return front() == Front::Message; }
  // The header at the front; only when front() is not NeedMore.
  MessageHeader frontHeader() const { return MessageHeader::read(storage_.data() + start_); }

  // Only after hasMessage(): attaches the reader to the next message and
  // takes it out. The reader's bytes stay valid until the next append.
  void extract(MessageReader& reader);
  // OutOfStep: drops the pending bytes up to the next marker after the
  // first byte, or all of them when there is none.
  void dropToNextMarker();
  // TooLong: drops the message, the bytes stored now and those still to come.
  void dropFrontMessage();
  // Drops every stored byte; bytes owed to a too-long message stay owed.
  void dropAllPending() { dropPending(count_); }

  std::span<const uint8_t> pending() const { return {storage_.data() + start_, count_}; }
  uint16_t count() const { return count_; }
  uint16_t start() const { return start_; }
  uint32_t discardOwed() const { return discardOwed_; }

 private:
  void dropPending(size_t length);

  std::array<uint8_t, kStreamCapacity> storage_{};
  uint16_t count_ = 0;
  uint16_t start_ = 0;
  uint32_t discardOwed_ = 0;  // bytes of a too-long message not yet seen
};

}  // namespace vestrel
