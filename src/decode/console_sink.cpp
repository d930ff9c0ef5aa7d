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

}  // namespace vestrel
