// Cuts the messages out of one direction of one connection, fed with that
// direction's bytes in order. Bytes wait only while a message is split
// over segments, so an idle connection costs a few words.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decode/message_reader.h"

namespace vestrel {

// Where the framer's messages go.
class FramedOutput {
 public:
  virtual void message(const MessageReader& reader) = 0;
  // A message longer than a stream holds: its header; its bytes are passed over.
  virtual void tooLong(const MessageHeader& header) = 0;

 protected:
  ~FramedOutput() = default;
};

class MessageFramer {
 public:
  // Bytes, in order, right after the last ones fed.
  void feed(std::span<const uint8_t> bytes, FramedOutput& output);
  // Bytes were lost (or the stream is met mid-way): forget what waits and
  // take up the stream again at the next plausible header.
  void resynchronise();
  bool synchronising() const { return synchronising_; }
  // True when no part of a message waits.
  bool idle() const { return pending_.empty() && discardOwed_ == 0; }

 private:
  size_t drain(std::span<const uint8_t> bytes, FramedOutput& output);
  size_t dropOwed(std::span<const uint8_t> bytes);
  void topUp(std::span<const uint8_t>& bytes);

  std::vector<uint8_t> pending_;  // the front of a message not yet whole
  uint32_t discardOwed_ = 0;      // bytes of a too-long message still to come
  bool synchronising_ = false;
};

}  // namespace vestrel
