#include "decode/output_forms.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "decode/file_time.h"
#include "output/console.h"
#include "output/utf8.h"

namespace vestrel {

namespace {

// The bytes from text[at] on that go together, and whether they may reach
// the terminal as they are.
struct TextUnit {
  size_t length;
  bool printable;
};

TextUnit unitAt(std::string_view text, size_t at) {
  const auto byte = static_cast<uint8_t>(text[at]);
  if (byte < 0x80) return {1, isPrintableAscii(byte)};
  const Utf8Character character = frontCharacter(text.substr(at));
  if (character.length == 0) return {1, false};
  return {character.length, !drivesTheTerminal(character.codePoint)};
}

void appendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  for (const char character : bytes) {
    const auto byte = static_cast<uint8_t>(character);
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
  }
}

// The code's text from the table, or the table's fallback showing the code.
void printCodeText(const CodeTable& table, uint32_t code) {
  const char* text = lookUpText(table.rows, code);
  if (table.plain && text == nullptr && *table.otherwise != '\0') text = table.otherwise;
  if (table.plain) {
    if (text != nullptr) consolePrintText(" (%s)", text);
  } else if (text != nullptr) {
    consoleWrite(text);
  } else {
    consolePrint(table.otherwise, code);
  }
}

}  // namespace

FourCharCodeText fourCharCodeText(std::span<const uint8_t, 4> bytes, bool asSpelled) {
  FourCharCodeText code{};
  if (!asSpelled) {
    while (code.length < 4 && bytes[code.length] != 0) {
      code.text[code.length] = static_cast<char>(bytes[code.length]);
      ++code.length;
    }
    return code;
  }
  size_t high = 4;
  while (high > 0 && bytes[high - 1] == 0) --high;
  while (high > 0 && bytes[high - 1] != 0) code.text[code.length++] = static_cast<char>(bytes[--high]);
  return code;
}

DottedAddress dottedAddress(std::span<const uint8_t, 4> octets) {
  DottedAddress dotted{};
  // "255.255.255.255" and the terminator fill it exactly: never cut short.
  const int length =
      std::snprintf(dotted.text, sizeof dotted.text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
  dotted.length = length > 0 ? static_cast<size_t>(length) : 0;
  return dotted;
}

const char* lookUpText(std::span<const CodeText> rows, uint32_t code) {
  for (const CodeText& row : rows) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

// One buffer for the whole run: texts are printed one at a time, and its
// capacity settles at the longest text seen.
std::string& safeText() {
  static std::string safe;
  return safe;
}

const char* consoleSafe(std::string_view raw) {
  std::string& safe = safeText();
  const std::string_view view = consoleSafeView(raw);
  if (view.data() != safe.data()) safe.assign(view);
  return safe.c_str();
}

std::string_view consoleSafeView(std::string_view raw) {
  // Most texts are plain ASCII: one scan, no copy.
  if (printableAsciiPrefix(raw) == raw.size()) return raw;
  std::string& safe = safeText();
  safe.clear();
  for (size_t at = 0; at < raw.size();) {
    const TextUnit unit = unitAt(raw, at);
    const std::string_view bytes = raw.substr(at, unit.length);
    if (unit.printable) {
      safe += bytes;
    } else {
      appendEscaped(safe, bytes);
    }
    at += unit.length;
  }
  return safe;
}

void printNumber(const char* format, uint32_t value) { consolePrintNumber(format, value); }

void printCode(const char* numberFormat, const CodeTable& table, uint32_t code) {
  if (numberFormat != nullptr) printNumber(numberFormat, code);
  printCodeText(table, code);
}

void printFourCharCode(const char* format, std::span<const uint8_t, 4> bytes, bool asSpelled) {
  char aligned[32];
  // Four bytes shown safely take at most 16 characters: never cut short.
  static_cast<void>(
      std::snprintf(aligned, sizeof aligned, "%4s", consoleSafe(fourCharCodeText(bytes, asSpelled).view())));
  consolePrint(format, aligned);
}

void printFlags(const char* format, std::span<const FlagName> table, uint32_t value) {
  printNumber(format, value);
  if (value == 0) return;
  const char* separator = " (";
  forEachFlagName(table, value, [&separator](std::string_view name) {
    consoleWrite(separator);
    consoleWrite(name);
    separator = ", ";
  });
  consoleWrite(")");
}

void printTrailingBytes(std::span<const uint8_t> bytes, bool onSummaryLine) {
  consoleWrite(onSummaryLine ? "Trailing bytes: " : "\t\t\t\t       Trailing bytes: ");
  printByteRun(bytes);
  consoleWrite("\n");
}

void printAddress(const char* format, std::span<const uint8_t, 4> octets) {
  consolePrint(format, dottedAddress(octets).text);
}

void printByteRun(std::span<const uint8_t> bytes) {
  for (const uint8_t byte : bytes) consolePrint("%2.2X", byte);
}

void printFileTime(const char* format, uint64_t fileTime) {
  const CalendarTime time = calendarFromFileTime(fileTime);
  consolePrint(format, time.day, time.month, time.year, time.hour, time.minute, time.second);
}

void printText(const char* format, std::string_view text) { consolePrintText(format, consoleSafeView(text)); }

void printTruncated(std::string_view text, bool fullStrings, size_t limit, size_t keep, const char* format,
                    const char* markedFormat) {
  if (fullStrings || text.size() <= limit) {
    printText(format, text);
  } else {
    printText(markedFormat, text.substr(0, keep));
  }
}

}  // namespace vestrel
