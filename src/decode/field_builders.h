// Short constructors for decoder tables, so a table reads like the
// protocol's field list: field::u32("cookie", "Cookie: 0x%X, "), ...
#pragma once

#include "decode/fields.h"

// The blanks that put a continuation line's fields under the summary
// line's, and one tab further for a list's entries.
#define FIELD_LINE "\t\t\t\t       "
#define ENTRY_LINE "\t\t\t\t\t       "

namespace vestrel::field {

constexpr Field u32(std::string_view key, const char* format) {
  return {.form = Form::Number, .key = key, .format = format};
}
constexpr Field u16(std::string_view key, const char* format) {
  return {.form = Form::Number, .key = key, .format = format, .size = 2};
}
constexpr Field u8(std::string_view key, const char* format) {
  return {.form = Form::Number, .key = key, .format = format, .size = 1};
}
// A port in network order.
constexpr Field port(std::string_view key, const char* format) {
  return {.form = Form::Number, .key = key, .format = format, .size = 2, .bigEndian = true};
}
// A number that says how many entries a list has.
constexpr Field count(std::string_view key, const char* format, Counter counter, uint8_t size = 4) {
  return {.form = Form::Number, .key = key, .format = format, .size = size, .counter = counter};
}
// format shows the number; suffix follows its meaning.
constexpr Field code(std::string_view key, const char* format, const CodeTable& codes, const char* suffix,
                     uint8_t size = 4) {
  return {.form = Form::Code, .key = key, .format = format, .suffix = suffix, .codes = &codes, .size = size};
}
constexpr Field flags(std::string_view key, const char* format, std::span<const FlagName> names, const char* suffix,
                      uint8_t size = 4) {
  return {.form = Form::Flags, .key = key, .format = format, .suffix = suffix, .flags = names, .size = size};
}
constexpr Field fourCharCode(std::string_view key, const char* format) {
  return {.form = Form::FourCharCode, .key = key, .format = format};
}
constexpr Field address(std::string_view key, const char* format) {
  return {.form = Form::Address, .key = key, .format = format};
}
// count bytes (kRestOfMessage: all that are left) in hex between format and suffix.
constexpr Field bytes(std::string_view key, const char* format, uint16_t count, const char* suffix) {
  return {.form = Form::ByteRun, .key = key, .format = format, .suffix = suffix, .count = count};
}
constexpr Field fixedText(std::string_view key, const char* format, uint16_t count) {
  return {.form = Form::FixedText, .key = key, .format = format, .count = count};
}
constexpr Field fileTime(std::string_view key, const char* format) {
  return {.form = Form::FileTime, .key = key, .format = format};
}
constexpr Field text(std::string_view key, const char* format) {
  return {.form = Form::Text, .key = key, .format = format};
}
constexpr Field literal(const char* format) { return {.form = Form::Literal, .format = format}; }
// format heads each entry with its index; counter None: up to the message's end.
constexpr Field list(std::string_view key, const char* format, Counter counter, std::span<const Field> entry) {
  return {.form = Form::List, .key = key, .format = format, .counter = counter, .entry = entry};
}

// Shown on the console only with -u: unknown or reserved.
constexpr Field unknown(Field field) {
  field.withUnknown = true;
  return field;
}
// Read only while the message has bytes left.
constexpr Field optional(Field field) {
  field.ifBytesLeft = true;
  return field;
}
// A run that JSON also writes as the fields it holds (see Field::parts).
constexpr Field splitInto(Field run, std::span<const Field> parts) {
  run.parts = parts;
  return run;
}
// The same code read with a table that knows more of its values.
constexpr Field withCodes(Field field, const CodeTable& codes) {
  field.codes = &codes;
  return field;
}

}  // namespace vestrel::field
