// Reading network text as UTF-8: where a well-formed character starts and
// ends, and which characters would drive a terminal rather than show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vestrel {

struct Utf8Character {
  size_t length;  // 0: the front byte starts no well-formed sequence
  char32_t codePoint;
};

// The character that text (not empty, its front byte 0x80 or above) opens.
// Overlong forms, surrogates, code points past U+10FFFF and sequences cut
// short are not well-formed.
Utf8Character frontCharacter(std::string_view text);

// C1 controls (U+009B is CSI, U+009D OSC) drive a terminal as ESC sequences
// do; the bidirectional overrides and isolates make a line read otherwise
// than its bytes.
bool drivesTheTerminal(char32_t codePoint);

// Blank to tilde, and not a quote or backslash either when those are asked
// to count as unprintable too (inside a JSON string).
inline bool isPrintableAscii(uint8_t byte, bool quoteAndBackslashToo = false) {
  if (byte < 0x20 || byte >= 0x7F) return false;
  return !quoteAndBackslashToo || (byte != '"' && byte != '\\');
}

// How many bytes at the front of text are printable ASCII (blank to
// tilde), and not a quote or backslash either when those are asked to stop
// it too: the part of a text that is written as it is.
size_t printableAsciiPrefix(std::string_view text, bool quoteAndBackslashToo = false);

}  // namespace vestrel
