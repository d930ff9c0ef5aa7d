// The forms every decoder prints its fields in. A decoder is a list of
// form calls in field order; each form reads its field through the reader
// (so nothing outside the message is ever read), applies -u and -s, makes
// network text safe for the terminal and prints with the decoder's format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "capture/options.h"
#include "stream/message_reader.h"

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

// A dword printed with format's one numeric conversion ("0x%X", "%u", ...);
// returns it for decoders whose later fields depend on it.
uint32_t printNumber(MessageReader& reader, const char* format);

// A dword, printed with numberFormat, followed by its text from table.
void printCode(MessageReader& reader, const char* numberFormat, const CodeTable& table);
// A dword shown by its text alone.
void printCode(MessageReader& reader, const CodeTable& table);

// A dword whose four bytes, in message order, are a code like "68XI": up to
// the first zero byte, right-aligned in four columns as "%4.4s" would.
// format takes it with "%s".
void printFourCharCode(MessageReader& reader, const char* format);

// A dword whose bytes, in message order, are the octets of an IPv4 address,
// in dotted decimal; format takes it with "%s".
void printAddress(MessageReader& reader, const char* format);

// count bytes as two hex digits each, nothing between; bytes past the
// message's end print nothing.
void printByteRun(MessageReader& reader, size_t count);

// A 64-bit file time (low dword first) in UTC; format takes day, month,
// year, hour, minute, second, each with "%u".
void printFileTime(MessageReader& reader, const char* format);

// A text, printed with format's "%s"; returns it as read.
std::string_view printText(MessageReader& reader, const char* format);
// A text already read, printed the same way.
void printText(const char* format, std::string_view text);

// A text that is shortened on the console unless -s: longer than limit
// bytes, its first keep bytes go through markedFormat (which adds " [...]").
void printTruncated(MessageReader& reader, const Options& options, size_t limit, size_t keep, const char* format,
                    const char* markedFormat);

// Fields of unknown meaning: printed with -u, else passed over so the fields
// after them are read at the right place.
void printUnknownNumber(MessageReader& reader, const Options& options, const char* format);
void printUnknownBytes(MessageReader& reader, const Options& options, const char* label, size_t count,
                       const char* separator = "");

}  // namespace vestrel
