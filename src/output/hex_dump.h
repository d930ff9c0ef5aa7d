// The traffic log: every message as a hex dump with a heading, sixteen
// bytes to a line with their offset and their characters, then an empty line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

namespace vestrel {

inline constexpr size_t kHexLineCapacity = 80;

// One dump's text, in one allocation sized for the message.
class HexDump {
 public:
  HexDump() = default;
  HexDump(std::unique_ptr<char[]> text, size_t length) : text_(std::move(text)), length_(length) {}

  // Empty when the text could not be allocated.
  std::string_view text() const { return {text_.get(), length_}; }

 private:
  std::unique_ptr<char[]> text_;
  size_t length_ = 0;
};

// Room for every dump of a message of size bytes: (size div 16) x 71 + 106.
size_t hexDumpCapacity(size_t size);

// label: "Sent" or "Rcvd".
HexDump formatHexDump(std::span<const uint8_t> message, const char* label);

// One line, without its newline, for 1 to 16 bytes found at offset
// lineIndex x 16; returns its length.
size_t formatHexLine(size_t lineIndex, std::span<char, kHexLineCapacity> out, std::span<const uint8_t> bytes);

// The log's dumps, gathered in blocks of 64 KB, each written to the log
// whole: most dumps are a few hundred bytes, and a log holds millions.
class HexDumpLog {
 public:
  static constexpr size_t kBlockBytes = size_t{64} << 10;

  // Adds the dump of one message; false when a block could not be written.
  bool write(FILE* log, std::span<const uint8_t> message, const char* label);
  // Writes out what is gathered and flushes log; false when that failed.
  bool flush(FILE* log);

 private:
  bool writeBlock(FILE* log);

  std::unique_ptr<char[]> block_;
  size_t used_ = 0;
};

}  // namespace vestrel
