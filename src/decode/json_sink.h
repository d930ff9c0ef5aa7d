// The JSON view of a message's fields: an object of key and value in message
// order, values by form (numbers as numbers, codes as code and meaning,
// texts whole, byte runs as hex), for scripts and log pipelines.
#pragma once

#include "decode/display_settings.h"
#include "decode/fields.h"
#include "output/json_text.h"

namespace vestrel {

class JsonSink final : public FieldSink {
 public:
  // A field with no byte in the message is left out, not shown as zero.
  static constexpr bool kFieldsEndWithTheMessage = true;

  explicit JsonSink(const DisplaySettings& options) : options_(options) {}

  // Asked for the fields the console shows only with -u: the full set
  // writes every field, the classic set these only with -u.
  bool shows(const Field& /*field*/) const { return options_.showUnknown || options_.decoders == DecoderSet::Full; }

  // A counted list past the message's end: [] in the full set; left out,
  // as every field past the end, in the classic set.
  bool showsEmptyLists() const { return options_.decoders == DecoderSet::Full; }

  void number(const Field& field, uint32_t value) override;
  void code(const Field& field, uint32_t value) override;
  void flags(const Field& field, uint32_t value) override;
  void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) override;
  void address(const Field& field, std::span<const uint8_t, 4> octets) override;
  void byteRun(const Field& field, std::span<const uint8_t> present) override;
  void fixedText(const Field& field, std::string_view value) override { text(field, value); }
  void hidden(const Field& /*field*/, std::span<const uint8_t> /*present*/) override {}
  void fileTime(const Field& field, uint64_t value) override;
  void text(const Field& field, std::string_view value) override;
  void shortenedText(const Field& field, std::string_view value) override { text(field, value); }
  void literal(const Field& /*field*/) override {}
  void beginList(const Field& list) override;
  void beginEntry(const Field& list, uint32_t index) override;
  void endEntry(const Field& list) override;
  void endList(const Field& list) override;
  void channelName(const Field& list, std::string_view name, uint32_t index) override;

  // After the last field: in the full set, the bytes no field took, as
  // "trailing".
  void finish(const MessageReader& reader) {
    if (options_.decoders == DecoderSet::Full && !reader.exhausted()) [[unlikely]] {
      writeTrailing(reader.rest());
    }
  }

 private:
  void writeTrailing(std::span<const uint8_t> rest);

  // The object members are being written to: the fields, or a key entry's.
  JsonMembers& members() { return inEntry_ ? entry_ : fields_; }

  const DisplaySettings& options_;
  JsonMembers fields_;
  JsonMembers list_;
  JsonMembers entry_;
  bool inEntry_ = false;
};

// What a code means, without the punctuation the console puts around it
// (" (Success)\n" is "Success"); empty when the code is not one the table
// knows.
std::string_view codeMeaning(const CodeTable& table, uint32_t code);

}  // namespace vestrel
