#include "output/json_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "output/console.h"
#include "output/utf8.h"

namespace vestrel {

namespace {

constexpr char kLowerHexDigits[] = "0123456789abcdef";

// "\u00XX" for a code point below U+10000.
char* putEscapedCodePoint(char* out, char32_t codePoint) {
  *out++ = '\\';
  *out++ = 'u';
  for (int shift = 12; shift >= 0; shift -= 4) *out++ = kLowerHexDigits[(codePoint >> shift) & 0x0F];
  return out;
}

char* putBytes(char* out, std::string_view bytes) {
  console_detail::copyText(out, bytes.data(), bytes.size());
  return out + bytes.size();
}

char* putAsciiEscaped(char* out, uint8_t byte) {
  switch (byte) {
    case '"': return putBytes(out, "\\\"");
    case '\\': return putBytes(out, "\\\\");
    case '\n': return putBytes(out, "\\n");
    case '\r': return putBytes(out, "\\r");
    case '\t': return putBytes(out, "\\t");
    default: return putEscapedCodePoint(out, byte);
  }
}

// Writes the unit that starts at text[at] to out and moves at past it.
char* putUnit(char* out, std::string_view text, size_t& at) {
  const auto byte = static_cast<uint8_t>(text[at]);
  if (byte < 0x80) {
    ++at;
    if (isPrintableAscii(byte, true)) {  // it stands for itself
      *out++ = static_cast<char>(byte);
      return out;
    }
    return putAsciiEscaped(out, byte);
  }
  const Utf8Character character = frontCharacter(text.substr(at));
  if (character.length == 0) {
    ++at;
    return putEscapedCodePoint(out, byte);  // not UTF-8: the byte is its own code point
  }
  const std::string_view sequence = text.substr(at, character.length);
  at += character.length;
  return drivesTheTerminal(character.codePoint) ? putEscapedCodePoint(out, character.codePoint)
                                                : putBytes(out, sequence);
}

// No byte takes more than six characters ("\u00e9"), and the quotes two.
size_t longestJsonString(size_t bytes) { return bytes * 6 + 2; }

}  // namespace

// Written in place, in one piece: most texts are a handful of plain bytes.
void writeJsonString(std::string_view bytes) {
  char* const start = consoleRoom(longestJsonString(bytes.size()));
  char* out = start;
  *out++ = '"';
  size_t at = printableAsciiPrefix(bytes, true);
  out = putBytes(out, bytes.substr(0, at));
  while (at < bytes.size()) out = putUnit(out, bytes, at);
  *out++ = '"';
  consoleCommit(static_cast<size_t>(out - start));
}

void writeJsonHex(std::span<const uint8_t> bytes) {
  const size_t length = bytes.size() * 2 + 2;
  char* out = consoleRoom(length);
  *out++ = '"';
  for (const uint8_t byte : bytes) {
    *out++ = kLowerHexDigits[byte >> 4];
    *out++ = kLowerHexDigits[byte & 0x0F];
  }
  *out = '"';
  consoleCommit(length);
}

// The fields' numbers are 32-bit: the conversion of those is the cheaper.
void writeJsonNumber(uint64_t value) {
  constexpr size_t kMostDigits = 20;
  char* out = consoleRoom(kMostDigits);
  const auto result = value <= UINT32_MAX ? std::to_chars(out, out + kMostDigits, static_cast<uint32_t>(value))
                                          : std::to_chars(out, out + kMostDigits, value);
  consoleCommit(static_cast<size_t>(result.ptr - out));
}

void JsonMembers::next() {
  if (!first_) consoleWrite(",");
  first_ = false;
}

}  // namespace vestrel
