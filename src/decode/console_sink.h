// The console's view of a message's fields: each value printed with its
// field's format, as the summary line's continuation and the lines below it.
// Defined here so that the walker's calls to it can be inlined.
#pragma once

#include "decode/display_settings.h"
#include "decode/fields.h"
#include "decode/output_forms.h"
#include "output/console.h"

namespace vestrel {

class ConsoleSink final : public FieldSink {
 public:
  // The console shows every field, those past the message's end as zeros
  // and empty texts.
  static constexpr bool kFieldsEndWithTheMessage = false;

  explicit ConsoleSink(const DisplaySettings& options) : options_(options) {}

  void number(const Field& field, uint32_t value) override { printNumber(field.format, value); }
  void code(const Field& field, uint32_t value) override {
    printCode(*field.format != '\0' ? field.format : nullptr, *field.codes, value);
  }
  void unknownNumber(const Field& field, uint32_t value) override {
    if (options_.showUnknown) printNumber(field.format, value);
  }
  void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) override {
    printFourCharCode(field.format, bytes);
  }
  void address(const Field& field, std::span<const uint8_t, 4> octets) override { printAddress(field.format, octets); }
  void byteRun(const Field& field, std::span<const uint8_t> present) override {
    consoleWrite(field.format);
    printByteRun(present);
    writeSuffix(field);
  }
  void unknownBytes(const Field& field, std::span<const uint8_t> present) override {
    if (options_.showUnknown) byteRun(field, present);
  }
  void hidden(const Field& /*field*/, std::span<const uint8_t> /*present*/) override {}
  void fileTime(const Field& field, uint64_t value) override { printFileTime(field.format, value); }
  void text(const Field& field, std::string_view value) override {
    printText(field.format, value);
    finishText(field, value);
  }
  void shortenedText(const Field& field, std::string_view value) override {
    printTruncated(value, options_.fullStrings, field.limit, field.keep, field.format, field.markedFormat);
    finishText(field, value);
  }
  void literal(const Field& field) override { consoleWrite(field.format); }
  void beginList(const Field& /*list*/) override {}
  void beginEntry(const Field& list, uint32_t index) override { printNumber(list.format, index); }
  void endEntry(const Field& /*list*/) override {}
  void endList(const Field& list) override { writeSuffix(list); }
  void channelName(const Field& list, std::string_view name, uint32_t index) override;

 private:
  // Most fields have no text after their value.
  static void writeSuffix(const Field& field) {
    if (*field.suffix != '\0') consoleWrite(field.suffix);
  }
  static void finishText(const Field& field, std::string_view value) {
    if (value.empty() && field.whenEmpty != nullptr) consoleWrite(field.whenEmpty);
    writeSuffix(field);
  }

  const DisplaySettings& options_;
};

}  // namespace vestrel
