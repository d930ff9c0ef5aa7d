// JSON text written to the console, for the one-object-a-line output:
// strings made of network bytes, runs of bytes as hex, numbers, and the
// keys and commas of an object. The caller writes the braces.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "output/console.h"

namespace vestrel {

// bytes as a JSON string: well-formed UTF-8 as it is; any other byte as the
// code point of the same value (0xE9 as U+00E9), so every byte survives and
// the text is always valid JSON. Controls, DEL, C1 controls and the
// bidirectional overrides are escaped, so that a terminal shows the line as
// it is.
void writeJsonString(std::string_view bytes);

// Lower-case hex digits, two a byte, in quotes.
void writeJsonHex(std::span<const uint8_t> bytes);

void writeJsonNumber(uint64_t value);

// The members of one object or array: writes the comma before all but the
// first.
class JsonMembers {
 public:
  // "key": (keys are the program's own snake_case words, written as they are).
  // Inline: every value of every message has one.
  void key(std::string_view name) {
    char* const start = consoleRoom(name.size() + 4);
    char* out = start;
    if (!first_) *out++ = ',';
    first_ = false;
    *out++ = '"';
    console_detail::copyText(out, name.data(), name.size());
    out += name.size();
    *out++ = '"';
    *out++ = ':';
    consoleCommit(static_cast<size_t>(out - start));
  }
  // An array's next element.
  void next();

 private:
  bool first_ = true;
};

}  // namespace vestrel
