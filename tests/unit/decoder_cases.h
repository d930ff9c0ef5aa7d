// Table rows for the decoders: a message as it stands on the wire, the
// display options, and the exact detail text that follows its summary line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "decode/display_settings.h"
#include "test_support.h"

namespace vestrel::test {

struct Flags {
  bool showUnknown = false;  // -u
  bool fullStrings = false;  // -s
  bool fullSet = false;      // each connection on its own: every message decoded
};
inline constexpr Flags kPlain{};
inline constexpr Flags kUnknown{.showUnknown = true};
inline constexpr Flags kFull{.fullStrings = true};
inline constexpr Flags kEveryMessage{.fullSet = true};
inline constexpr Flags kEveryMessageWithU{.showUnknown = true, .fullSet = true};

DisplaySettings displaySettings(Flags flags);

struct DecoderCase {
  const char* name;
  Bytes message;
  Flags flags;
  std::string details;
};

// Failure messages name the case instead of dumping its bytes.
inline void PrintTo(const DecoderCase& c, std::ostream* out) { *out << c.name; }

// What decodeDetails prints for a whole message in one direction.
std::string decodedDetails(bool sent, const Bytes& message, Flags flags);
// What decodeJsonFields writes for it.
std::string decodedJson(bool sent, const Bytes& message, Flags flags);

// The four tabs and seven blanks that start most continuation lines.
inline const std::string kIndent = "\t\t\t\t       ";

// count bytes first, first + 1, ... and how a byte run prints them.
Bytes counting(size_t count, uint8_t first = 0);
std::string countingHex(size_t count, uint8_t first = 0);

std::string repeated(std::string_view text, size_t times);

// A text of length bytes: "0123456789" repeated.
std::string digits(size_t length);

}  // namespace vestrel::test
