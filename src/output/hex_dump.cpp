#include "output/hex_dump.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

namespace vestrel {

namespace {

constexpr size_t kBytesPerLine = 16;
constexpr size_t kHexColumnWidth = 3 * kBytesPerLine;

// Each byte's two hex digits and the blank after them (with a fourth
// byte, so that each is one four-byte store whose last byte the next one
// overwrites), and the character the last column shows for it: the dump
// is copied from tables, never formatted.
struct HexTables {
  std::array<std::array<char, 4>, 256> hexAndBlank{};
  std::array<char, 256> shown{};
};

constexpr HexTables makeHexTables() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  HexTables tables;
  for (size_t byte = 0; byte < 256; ++byte) {
    tables.hexAndBlank[byte] = {kDigits[byte >> 4], kDigits[byte & 0x0F], ' ', ' '};
    tables.shown[byte] = byte >= 0x20 ? static_cast<char>(byte) : '.';
  }
  return tables;
}

constexpr HexTables kTables = makeHexTables();

char* putHexByte(char* out, uint8_t byte) { return std::copy_n(kTables.hexAndBlank[byte].data(), 2, out); }

// Writes four bytes where it keeps three: out needs one to spare.
char* putHexAndBlank(char* out, uint8_t byte) {
  std::memcpy(out, kTables.hexAndBlank[byte].data(), 4);
  return out + 3;
}

char* putDecimal(char* out, size_t value) {
  std::array<char, 20> digits{};
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::reverse_copy(digits.begin(), digits.begin() + static_cast<ptrdiff_t>(count), out);
}

// "Sent packet 0x0E, Length 16:\n"
char* putHeading(char* out, std::span<const uint8_t> message, const char* label) {
  constexpr std::string_view kPacket = " packet 0x";
  constexpr std::string_view kLength = ", Length ";
  out = std::copy_n(label, std::strlen(label), out);
  out = std::copy(kPacket.begin(), kPacket.end(), out);
  out = putHexByte(out, message.size() > 1 ? message[1] : 0);
  out = std::copy(kLength.begin(), kLength.end(), out);
  out = putDecimal(out, message.size());
  *out++ = ':';
  *out++ = '\n';
  return out;
}

// One line, without its newline: the offset, up to 16 bytes in hex, blanks
// for missing bytes (they keep the character column in place), the
// characters.
char* putLine(char* out, size_t lineIndex, std::span<const uint8_t> bytes) {
  const auto offset = static_cast<uint16_t>(lineIndex * kBytesPerLine);
  out = putHexByte(putHexByte(out, static_cast<uint8_t>(offset >> 8)), static_cast<uint8_t>(offset));
  *out++ = ' ';
  if (bytes.size() == kBytesPerLine) {  // all lines but a message's last
    for (size_t at = 0; at < kBytesPerLine; ++at) out = putHexAndBlank(out, bytes[at]);
    // The same as the table, in a form the compiler does sixteen at once.
    for (size_t at = 0; at < kBytesPerLine; ++at) out[at] = static_cast<char>(bytes[at] < 0x20 ? '.' : bytes[at]);
    return out + kBytesPerLine;
  }
  for (const uint8_t byte : bytes) out = putHexAndBlank(out, byte);
  out = std::fill_n(out, kHexColumnWidth - 3 * bytes.size(), ' ');
  for (const uint8_t byte : bytes) *out++ = kTables.shown[byte];
  return out;
}

// The whole dump into out, which holds hexDumpCapacity(message.size())
// bytes; returns its end.
char* putHexDump(char* out, std::span<const uint8_t> message, const char* label) {
  out = putHeading(out, message, label);
  for (size_t start = 0, lineIndex = 0; start < message.size(); start += kBytesPerLine, ++lineIndex) {
    out = putLine(out, lineIndex, message.subspan(start, std::min(kBytesPerLine, message.size() - start)));
    *out++ = '\n';
  }
  *out++ = '\n';
  return out;
}

// The labels are "Sent" and "Rcvd"; a longer one would not fit the
// capacity's heading allowance.
constexpr size_t kLongestLabel = 8;

}  // namespace

size_t hexDumpCapacity(size_t size) { return size / kBytesPerLine * 71 + 106; }

size_t formatHexLine(size_t lineIndex, std::span<char, kHexLineCapacity> out, std::span<const uint8_t> bytes) {
  char* end = putLine(out.data(), lineIndex, bytes.first(std::min(bytes.size(), kBytesPerLine)));
  *end = '\0';
  return static_cast<size_t>(end - out.data());
}

HexDump formatHexDump(std::span<const uint8_t> message, const char* label) {
  if (std::strlen(label) > kLongestLabel) return {};
  std::unique_ptr<char[]> text(new (std::nothrow) char[hexDumpCapacity(message.size())]);
  if (!text) return {};
  const auto length = static_cast<size_t>(putHexDump(text.get(), message, label) - text.get());
  return {std::move(text), length};
}

bool HexDumpLog::writeBlock(FILE* log) {
  const size_t length = std::exchange(used_, 0);
  return length == 0 || fwrite_unlocked(block_.get(), 1, length, log) == length;
}

bool HexDumpLog::write(FILE* log, std::span<const uint8_t> message, const char* label) {
  const size_t capacity = hexDumpCapacity(message.size());
  if (std::strlen(label) > kLongestLabel || capacity > kBlockBytes) {
    // A dump larger than a block goes out on its own, after the block.
    const HexDump dump = formatHexDump(message, label);
    const std::string_view text = dump.text();
    // A dump that could not be allocated is left out; the log goes on.
    return writeBlock(log) && (text.empty() || fwrite_unlocked(text.data(), 1, text.size(), log) == text.size());
  }
  if (!block_) {
    block_.reset(new (std::nothrow) char[kBlockBytes]);
    if (!block_) return true;  // as a dump that could not be allocated
  }
  if (used_ + capacity > kBlockBytes && !writeBlock(log)) return false;
  used_ = static_cast<size_t>(putHexDump(block_.get() + used_, message, label) - block_.get());
  return true;
}

bool HexDumpLog::flush(FILE* log) { return writeBlock(log) && std::fflush(log) == 0; }

}  // namespace vestrel
