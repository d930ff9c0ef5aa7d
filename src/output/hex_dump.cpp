#include "output/hex_dump.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace vestrel {

namespace {

constexpr size_t kBytesPerLine = 16;
constexpr char kHexDigits[] = "0123456789ABCDEF";

char* putHexByte(char* out, uint8_t byte) {
  *out++ = kHexDigits[byte >> 4];
  *out++ = kHexDigits[byte & 0x0F];
  return out;
}

}  // namespace

size_t hexDumpCapacity(size_t size) { return size / kBytesPerLine * 71 + 106; }

size_t formatHexLine(size_t lineIndex, std::span<char, kHexLineCapacity> out, std::span<const uint8_t> bytes) {
  bytes = bytes.first(std::min(bytes.size(), kBytesPerLine));
  const auto offset = static_cast<uint16_t>(lineIndex * kBytesPerLine);
  char* cursor = putHexByte(putHexByte(out.data(), static_cast<uint8_t>(offset >> 8)), static_cast<uint8_t>(offset));
  *cursor++ = ' ';
  for (const uint8_t byte : bytes) {
    cursor = putHexByte(cursor, byte);
    *cursor++ = ' ';
  }
  // Blanks for missing bytes keep the character column in place.
  cursor = std::fill_n(cursor, 3 * (kBytesPerLine - bytes.size()), ' ');
  for (const uint8_t byte : bytes) *cursor++ = byte >= 0x20 ? static_cast<char>(byte) : '.';
  *cursor = '\0';
  return static_cast<size_t>(cursor - out.data());
}

HexDump formatHexDump(std::span<const uint8_t> message, const char* label) {
  const unsigned id = message.size() > 1 ? message[1] : 0;
  const size_t capacity = hexDumpCapacity(message.size());
  // The capacity holds the heading and every line for any message size,
  // so the lines below never run past it.
  std::unique_ptr<char[]> text(new (std::nothrow) char[capacity]);
  if (!text) return {};

  const int heading = std::snprintf(text.get(), capacity, "%s packet 0x%2.2X, Length %u:\n", label, id,
                                    static_cast<unsigned>(message.size()));
  size_t length = heading > 0 ? std::min(static_cast<size_t>(heading), capacity - 1) : 0;
  std::array<char, kHexLineCapacity> line;
  for (size_t lineIndex = 0; lineIndex * kBytesPerLine < message.size(); ++lineIndex) {
    const size_t lineLength = formatHexLine(lineIndex, line, message.subspan(lineIndex * kBytesPerLine));
    std::memcpy(text.get() + length, line.data(), lineLength);
    length += lineLength;
    text[length++] = '\n';
  }
  text[length++] = '\n';
  return {std::move(text), length};
}

bool writeHexDump(FILE* log, std::span<const uint8_t> message, const char* label) {
  const HexDump dump = formatHexDump(message, label);
  const std::string_view text = dump.text();
  // A dump that could not be allocated is left out; the log goes on.
  if (text.empty()) return true;
  return std::fwrite(text.data(), 1, text.size(), log) == text.size();
}

}  // namespace vestrel
