#include "decode/output_forms.h"

#include <algorithm>
#include <string>

#include "decode/file_time.h"
#include "stream/console.h"

namespace vestrel {

namespace {

bool isControl(uint8_t byte) { return byte < 0x20 || byte == 0x7F; }

// Up to four bytes, stopping at the first zero, as "%4.4s" reads them.
std::string_view fourCharCode(const uint8_t (&bytes)[4]) {
  size_t length = 0;
  while (length < 4 && bytes[length] != 0) ++length;
  return {reinterpret_cast<const char*>(bytes), length};
}

// The code's text from the table, or the table's fallback showing the code.
void printCodeText(const CodeTable& table, uint32_t code) {
  if (const char* text = lookUpText(table.rows, code)) {
    consoleWrite(text);
  } else {
    consolePrint(table.otherwise, code);
  }
}

}  // namespace

const char* lookUpText(std::span<const CodeText> rows, uint32_t code) {
  for (const CodeText& row : rows) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

const char* consoleSafe(std::string_view raw) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  // One buffer for the whole run: texts are printed one at a time, and its
  // capacity settles at the longest text seen.
  static std::string safe;
  // Most texts have no control byte at all: one copy.
  if (std::none_of(raw.begin(), raw.end(), [](char character) { return isControl(static_cast<uint8_t>(character)); })) {
    safe.assign(raw);
    return safe.c_str();
  }
  safe.clear();
  for (const char character : raw) {
    const auto byte = static_cast<uint8_t>(character);
    if (isControl(byte)) {
      safe += "\\x";
      safe += kHexDigits[byte >> 4];
      safe += kHexDigits[byte & 0x0F];
    } else {
      safe += character;
    }
  }
  return safe.c_str();
}

uint32_t printNumber(MessageReader& reader, const char* format) {
  const uint32_t value = reader.readDword();
  consolePrint(format, value);
  return value;
}

void printCode(MessageReader& reader, const char* numberFormat, const CodeTable& table) {
  const uint32_t code = printNumber(reader, numberFormat);
  printCodeText(table, code);
}

void printCode(MessageReader& reader, const CodeTable& table) { printCodeText(table, reader.readDword()); }

void printFourCharCode(MessageReader& reader, const char* format) {
  uint8_t bytes[4];
  for (uint8_t& byte : bytes) byte = reader.readByte();
  char aligned[32];
  // Four bytes shown safely take at most 16 characters: never cut short.
  static_cast<void>(std::snprintf(aligned, sizeof aligned, "%4s", consoleSafe(fourCharCode(bytes))));
  consolePrint(format, aligned);
}

void printAddress(MessageReader& reader, const char* format) {
  uint8_t octets[4];
  for (uint8_t& octet : octets) octet = reader.readByte();
  char dotted[16];
  // "255.255.255.255" and the terminator fill it exactly: never cut short.
  static_cast<void>(std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]));
  consolePrint(format, dotted);
}

void printByteRun(MessageReader& reader, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const bool present = !reader.exhausted();
    const uint8_t byte = reader.readByte();
    if (present) consolePrint("%2.2X", byte);
  }
}

void printFileTime(MessageReader& reader, const char* format) {
  const uint64_t low = reader.readDword();
  const uint64_t high = reader.readDword();
  const CalendarTime time = calendarFromFileTime(high << 32 | low);
  consolePrint(format, time.day, time.month, time.year, time.hour, time.minute, time.second);
}

std::string_view printText(MessageReader& reader, const char* format) {
  const std::string_view text = reader.readString();
  printText(format, text);
  return text;
}

void printText(const char* format, std::string_view text) { consolePrint(format, consoleSafe(text)); }

void printTruncated(MessageReader& reader, const Options& options, size_t limit, size_t keep, const char* format,
                    const char* markedFormat) {
  const std::string_view text = reader.readString();
  if (options.fullStrings || text.size() <= limit) {
    printText(format, text);
  } else {
    printText(markedFormat, text.substr(0, keep));
  }
}

void printUnknownNumber(MessageReader& reader, const Options& options, const char* format) {
  if (options.showUnknown) {
    printNumber(reader, format);
  } else {
    reader.skip(4);
  }
}

void printUnknownBytes(MessageReader& reader, const Options& options, const char* label, size_t count,
                       const char* separator) {
  if (options.showUnknown) {
    consolePrint("%s", label);
    printByteRun(reader, count);
    consolePrint("%s", separator);
  } else {
    reader.skip(count);
  }
}

}  // namespace vestrel
