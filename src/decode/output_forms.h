// The forms the console shows every field in: each prints one kind of
// value with the decoder's format, makes network text safe for the
// terminal, and applies -s where texts are shortened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
// The classic decoders' rows carry the console's punctuation (" (Success)\n");
// a plain table's rows are the bare meaning, shown as " (meaning)" after the
// number, and any other code has otherwise as its meaning, or none when empty.
struct CodeTable {
  std::span<const CodeText> rows;
  const char* otherwise = "";
  bool plain = false;
};

// The meaning of one bit of a flags field.
struct FlagName {
  uint32_t bit;
  const char* name;
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

// A four-character code's text. In wire order, up to the first zero byte,
// it reads "68XI"; as users spell it, it is the number's bytes from the
// high one down, without the zero bytes in front: "IX86", a three-letter
// clan tag "ABC", no code "".
struct FourCharCodeText {
  char text[4];
  size_t length;
  std::string_view view() const { return {text, length}; }
};
FourCharCodeText fourCharCodeText(std::span<const uint8_t, 4> bytes, bool asSpelled);

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

// Four bytes that are a code like "68XI" (in wire order) or "IX86" (as
// spelled), right-aligned in four columns as "%4.4s" would. format takes it
// with "%s".
void printFourCharCode(const char* format, std::span<const uint8_t, 4> bytes, bool asSpelled);

// Hands take the name of each of value's set bits that table names, in the
// table's order, then the set bits it does not name as one hex value
// ("0x30"), so no bit goes unseen.
template <class Take>
void forEachFlagName(std::span<const FlagName> table, uint32_t value, Take take) {
  uint32_t unnamed = value;
  for (const FlagName& flag : table) {
    if ((value & flag.bit) == 0) continue;
    take(std::string_view(flag.name));
    unnamed &= ~flag.bit;
  }
  if (unnamed == 0) return;
  char hex[16];
  const int length = std::snprintf(hex, sizeof hex, "0x%X", unnamed);
  take(std::string_view(hex, length > 0 ? static_cast<size_t>(length) : 0));
}

// A flags field: its number with format, then its set bits' names in
// parentheses (none for 0).
void printFlags(const char* format, std::span<const FlagName> table, uint32_t value);

// Bytes left after a message's last field, "Trailing bytes: <hex>": on a
// continuation line, or ending the summary line of a message without fields.
void printTrailingBytes(std::span<const uint8_t> bytes, bool onSummaryLine);

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
