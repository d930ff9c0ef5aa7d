#include "decode/console_sink.h"

namespace vestrel {

namespace {

// Channel names go four to a line after the first; continuation lines
// start one column left of the others.
constexpr uint32_t kChannelsPerLine = 4;
constexpr const char* kChannelLineBreak = "\n\t\t\t\t      ";

}  // namespace

void ConsoleSink::channelName(const Field& list, std::string_view name, uint32_t index) {
  if (index == 0) {
    printText(list.format, name);
    return;
  }
  consoleWrite(",");
  if (index % kChannelsPerLine == 0) consoleWrite(kChannelLineBreak);
  printText(" %s", name);
}

// A table with more such numbers than kept here shows the extra ones in place.
void ConsoleSink::keepForLast(const Field& field, uint32_t value) {
  if (keptCount_ == kept_.size()) {
    printNumber(field.format, value);
    return;
  }
  kept_[keptCount_++] = {&field, value};
}

void ConsoleSink::printLast(std::span<const uint8_t> rest) {
  for (size_t index = 0; index < keptCount_; ++index) printNumber(kept_[index].field->format, kept_[index].value);
  if (options_.decoders == DecoderSet::Full && options_.showUnknown && !rest.empty()) printTrailingBytes(rest, false);
}

}  // namespace vestrel
