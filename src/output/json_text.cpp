#include "output/json_text.h"

#include <algorithm>
#include <charconv>

#include "output/console.h"
#include "output/utf8.h"

namespace vestrel {

namespace {

constexpr char kLowerHexDigits[] = "0123456789abcdef";

// A byte that stands for itself inside a JSON string: printable ASCII but
// the quote and the backslash. Most texts hold nothing else.
bool standsForItself(char character) {
  const auto byte = static_cast<uint8_t>(character);
  return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// "\u00XX" for a code point below U+10000.
void writeEscapedCodePoint(char32_t codePoint) {
  char* out = consoleRoom(6);
  out[0] = '\\';
  out[1] = 'u';
  for (int digit = 0; digit < 4; ++digit) out[2 + digit] = kLowerHexDigits[(codePoint >> (12 - 4 * digit)) & 0x0F];
  consoleCommit(6);
}

void writeAsciiEscaped(uint8_t byte) {
  switch (byte) {
    case '"': consoleWrite("\\\""); return;
    case '\\': consoleWrite("\\\\"); return;
    case '\n': consoleWrite("\\n"); return;
    case '\r': consoleWrite("\\r"); return;
    case '\t': consoleWrite("\\t"); return;
    default: writeEscapedCodePoint(byte); return;
  }
}

// Writes the unit that starts at text[at]; returns its length in bytes.
size_t writeUnit(std::string_view text, size_t at) {
  const auto byte = static_cast<uint8_t>(text[at]);
  if (byte < 0x80) {
    if (standsForItself(text[at])) {
      consoleWrite(text.substr(at, 1));
    } else {
      writeAsciiEscaped(byte);
    }
    return 1;
  }
  const Utf8Character character = frontCharacter(text.substr(at));
  if (character.length == 0) {
    writeEscapedCodePoint(byte);  // not UTF-8: the byte is its own code point
    return 1;
  }
  if (drivesTheTerminal(character.codePoint)) {
    writeEscapedCodePoint(character.codePoint);
  } else {
    consoleWrite(text.substr(at, character.length));
  }
  return character.length;
}

}  // namespace

void writeJsonString(std::string_view bytes) {
  consoleWrite("\"");
  const auto plainEnd = std::find_if_not(bytes.begin(), bytes.end(), standsForItself);
  const auto plainLength = static_cast<size_t>(plainEnd - bytes.begin());
  consoleWrite(bytes.substr(0, plainLength));
  for (size_t at = plainLength; at < bytes.size();) at += writeUnit(bytes, at);
  consoleWrite("\"");
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

void writeJsonNumber(uint64_t value) {
  constexpr size_t kMostDigits = 20;
  char* out = consoleRoom(kMostDigits);
  const auto result = std::to_chars(out, out + kMostDigits, value);
  consoleCommit(static_cast<size_t>(result.ptr - out));
}

void JsonMembers::key(std::string_view name) {
  next();
  consoleWrite("\"");
  consoleWrite(name);
  consoleWrite("\":");
}

void JsonMembers::next() {
  if (!first_) consoleWrite(",");
  first_ = false;
}

}  // namespace vestrel
