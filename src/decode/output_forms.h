// The forms the console shows every field in: each prints one kind of
// value with the decoder's format, makes network text safe for the
// terminal, and applies -s where texts are shortened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vestrel {

// A number's meaning, e.g. a result code and its text.
struct CodeText {
  uint32_t code;
  const char* text;
};

// Texts for a field's known codes, and what to print for any other code
// (a format that may show the code with one conversion, e.g. "EID_UNK0x%8.8X, ").
struct CodeTable {
  std::span<const CodeText> rows;
  const char* otherwise;
};

// The row's text for code, or nullptr.
const char* lookUpText(std::span<const CodeText> rows, uint32_t code);

// Network text made safe for the terminal: well-formed UTF-8 prints as it
// is, and these bytes are written as \xHH (upper-case hex) each, so a peer
// cannot drive the terminal or disguise a line:
// - bytes below 0x20, and 0x7F;
// - every byte of a C1 control in UTF-8 (U+0080-U+009F: C2 80..C2 9F);
// - every byte of a bidirectional override or isolate (U+202A-U+202E,
//   U+2066-U+2069);
// - every byte that is not part of a well-formed UTF-8 sequence: stray
//   continuation bytes, leads C0, C1 and F5..FF, overlong forms,
//   surrogates, code points past U+10FFFF, sequences cut short (a text
//   shortened inside a character shows its cut bytes escaped).
// Valid until the next call.
const char* consoleSafe(std::string_view raw);
// The same as a view: raw itself when it needs no escaping (most texts),
// without a copy.
std::string_view consoleSafeView(std::string_view raw);

// Up to four bytes, in message order, stopping at the first zero: a code
// like "68XI" as it reads.
std::string_view fourCharCodeText(std::span<const uint8_t, 4> bytes);

// The octets of an IPv4 address in dotted decimal, written to text (room
// for "255.255.255.255" and its terminator); returns its length.
struct DottedAddress {
  char text[16];
  size_t length;
  std::string_view view() const { return {text, length}; }
};
DottedAddress dottedAddress(std::span<const uint8_t, 4> octets);

// A number printed with format's one numeric conversion ("0x%X", "%u", ...).
void printNumber(const char* format, uint32_t value);

// A code printed with numberFormat (none: not shown), followed by its text
// from table.
void printCode(const char* numberFormat, const CodeTable& table, uint32_t code);

// Four bytes, in message order, that are a code like "68XI": up to the
// first zero byte, right-aligned in four columns as "%4.4s" would. format
// takes it with "%s".
void printFourCharCode(const char* format, std::span<const uint8_t, 4> bytes);

// The octets of an IPv4 address in dotted decimal; format takes it with "%s".
void printAddress(const char* format, std::span<const uint8_t, 4> octets);

// Bytes as two hex digits each, nothing between.
void printByteRun(std::span<const uint8_t> bytes);

// A 64-bit file time in UTC; format takes day, month, year, hour, minute,
// second, each with "%u".
void printFileTime(const char* format, uint64_t fileTime);

// A text, printed with format's "%s".
void printText(const char* format, std::string_view text);

// A text that is shortened on the console unless fullStrings: longer than
// limit bytes, its first keep bytes go through markedFormat (which adds
// " [...]").
void printTruncated(std::string_view text, bool fullStrings, size_t limit, size_t keep, const char* format,
                    const char* markedFormat);

}  // namespace vestrel
