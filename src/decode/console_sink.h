// The console's view of a message's fields: each value printed with its
// field's format, as the summary line's continuation and the lines below it.
#pragma once

#include "capture/options.h"
#include "decode/fields.h"

namespace vestrel {

class ConsoleSink final : public FieldSink {
 public:
  explicit ConsoleSink(const Options& options) : options_(options) {}

  void number(const Field& field, uint32_t value) override;
  void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) override;
  void address(const Field& field, std::span<const uint8_t, 4> octets) override;
  void bytes(const Field& field, std::span<const uint8_t> present) override;
  void fileTime(const Field& field, uint64_t value) override;
  void text(const Field& field, std::string_view value) override;
  void literal(const Field& field) override;
  void beginList(const Field& list) override;
  void beginEntry(const Field& list, uint32_t index) override;
  void endEntry(const Field& list) override;
  void endList(const Field& list) override;
  void channelName(const Field& list, std::string_view name, uint32_t index) override;

 private:
  const Options& options_;
};

}  // namespace vestrel
