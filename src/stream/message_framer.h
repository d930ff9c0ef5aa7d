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
  // count bytes before the next message were passed over: they could not
  // start one.
  virtual void skipped(uint64_t count) = 0;
  // The stream broke off inside a message: count of its bytes came;
  // length is its header's, or 0 when the header itself was cut.
  virtual void incomplete(uint64_t count, uint32_t length) = 0;

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
  // The bytes stop here (a gap, or the end of the connection or capture):
  // what was passed over and a message left unfinished are told, then the
  // framer resynchronises.
  void breakOff(FramedOutput& output);
  bool synchronising() const { return synchronising_; }
  // True when no part of a message waits.
  bool idle() const { return pending_.empty() && discardOwed_ == 0; }

 private:
  size_t drain(std::span<const uint8_t> bytes, FramedOutput& output);
  size_t passOver(std::span<const uint8_t> bytes);
  void tellSkipped(FramedOutput& output);
  size_t dropOwed(std::span<const uint8_t> bytes);
  void topUp(std::span<const uint8_t>& bytes);

  std::vector<uint8_t> pending_;  // the front of a message not yet whole
  uint32_t discardOwed_ = 0;      // bytes of a too-long message still to come
  uint32_t tooLongLength_ = 0;    // that message's length
  uint64_t skipped_ = 0;          // passed over since the last message, not yet told
  bool synchronising_ = false;
};

}  // namespace vestrel
