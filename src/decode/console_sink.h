// The console's view of a message's fields: each value printed with its
// field's format, as the summary line's continuation and the lines below it.
// Defined here so that the walker's calls to it can be inlined.
#pragma once

#include <array>

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

  // Asked for the fields shown only with -u.
  bool shows(const Field& /*field*/) const { return options_.showUnknown; }
  // Every list is shown, its entries as far as the message goes.
  static bool showsEmptyLists() { return true; }

  void number(const Field& field, uint32_t value) override {
    if (field.last) [[unlikely]] {
      keepForLast(field, value);
    } else {
      printNumber(field.format, value);
    }
  }
  void code(const Field& field, uint32_t value) override {
    printCode(*field.format != '\0' ? field.format : nullptr, *field.codes, value);
    writeSuffix(field);
  }
  void flags(const Field& field, uint32_t value) override {
    printFlags(field.format, field.flags, value);
    writeSuffix(field);
  }
  void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) override {
    printFourCharCode(field.format, bytes, options_.decoders == DecoderSet::Full);
  }
  void address(const Field& field, std::span<const uint8_t, 4> octets) override { printAddress(field.format, octets); }
  void byteRun(const Field& field, std::span<const uint8_t> present) override {
    consoleWrite(field.format);
    printByteRun(present);
    writeSuffix(field);
  }
  void fixedText(const Field& field, std::string_view value) override { printText(field.format, value); }
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

  // After the last field: the numbers kept for last, then, in the full
  // set with -u, the bytes no field took. Most messages have neither.
  void finish(const MessageReader& reader) {
    if (keptCount_ != 0 || (options_.showUnknown && options_.decoders == DecoderSet::Full)) [[unlikely]] {
      printLast(reader.rest());
    }
  }

 private:
  // Most fields have no text after their value.
  static void writeSuffix(const Field& field) {
    if (*field.suffix != '\0') consoleWrite(field.suffix);
  }
  static void finishText(const Field& field, std::string_view value) {
    if (value.empty() && field.whenEmpty != nullptr) consoleWrite(field.whenEmpty);
    writeSuffix(field);
  }
  void keepForLast(const Field& field, uint32_t value);
  void printLast(std::span<const uint8_t> rest);

  struct KeptNumber {
    const Field* field;
    uint32_t value;
  };
  // A message has a few such numbers at most (the chat event's three).
  static constexpr size_t kMostKept = 4;

  const DisplaySettings& options_;
  std::array<KeptNumber, kMostKept> kept_{};
  size_t keptCount_ = 0;
};

}  // namespace vestrel
