// JSON text written to the console, for the one-object-a-line output:
// strings made of network bytes, runs of bytes as hex, numbers, and the
// keys and commas of an object. The caller writes the braces.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

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
  void key(std::string_view name);
  // An array's next element.
  void next();

 private:
  bool first_ = true;
};

}  // namespace vestrel
