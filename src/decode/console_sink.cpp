#include "decode/console_sink.h"

#include "decode/output_forms.h"
#include "stream/console.h"

namespace vestrel {

namespace {

// Channel names go four to a line after the first; continuation lines
// start one column left of the others.
constexpr uint32_t kChannelsPerLine = 4;
constexpr const char* kChannelLineBreak = "\n\t\t\t\t      ";

}  // namespace

void ConsoleSink::number(const Field& field, uint32_t value) {
  switch (field.form) {
    case Form::Code: printCode(*field.format != '\0' ? field.format : nullptr, *field.codes, value); return;
    case Form::UnknownNumber:
      if (options_.showUnknown) printNumber(field.format, value);
      return;
    default: printNumber(field.format, value); return;
  }
}

void ConsoleSink::fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) {
  printFourCharCode(field.format, bytes);
}

void ConsoleSink::address(const Field& field, std::span<const uint8_t, 4> octets) {
  printAddress(field.format, octets);
}

void ConsoleSink::bytes(const Field& field, std::span<const uint8_t> present) {
  if (field.form == Form::Hidden || (field.form == Form::UnknownBytes && !options_.showUnknown)) return;
  consoleWrite(field.format);
  printByteRun(present);
  consoleWrite(field.suffix);
}

void ConsoleSink::fileTime(const Field& field, uint64_t value) { printFileTime(field.format, value); }

void ConsoleSink::text(const Field& field, std::string_view value) {
  if (field.form == Form::ShortenedText) {
    printTruncated(value, options_.fullStrings, field.limit, field.keep, field.format, field.markedFormat);
  } else {
    printText(field.format, value);
  }
  if (value.empty() && field.whenEmpty != nullptr) consoleWrite(field.whenEmpty);
  consoleWrite(field.suffix);
}

void ConsoleSink::literal(const Field& field) { consoleWrite(field.format); }

void ConsoleSink::beginList(const Field& /*list*/) {}

void ConsoleSink::beginEntry(const Field& list, uint32_t index) { printNumber(list.format, index); }

void ConsoleSink::endEntry(const Field& /*list*/) {}

void ConsoleSink::endList(const Field& list) { consoleWrite(list.suffix); }

void ConsoleSink::channelName(const Field& list, std::string_view name, uint32_t index) {
  if (index == 0) {
    printText(list.format, name);
    return;
  }
  consoleWrite(",");
  if (index % kChannelsPerLine == 0) consoleWrite(kChannelLineBreak);
  printText(" %s", name);
}

}  // namespace vestrel
