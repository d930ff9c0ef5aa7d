#include "stream/message_printer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "decode/decode_details.h"
#include "decode/message_names.h"
#include "output/console.h"
#include "output/hex_dump.h"

namespace vestrel {

namespace {

// The start of every summary line depends only on direction and id, so
// each is formatted once, when first needed.
std::string_view summaryStart(bool sent, uint8_t id) {
  static std::array<std::string, 512> starts;
  std::string& start = starts[(sent ? 256U : 0U) + id];
  if (start.empty()) {
    char text[128];
    const int length =
        std::snprintf(text, sizeof text, "%s -> [0x%2.2X] %-20s -> ", directionText(sent), id, messageName(id));
    if (length > 0) start.assign(text, std::min(static_cast<size_t>(length), sizeof text - 1));
  }
  return start;
}

// The local date and time of a second, formatted once per second seen.
std::string_view localTimeText(time_t seconds, bool withDate) {
  static time_t cachedSeconds = -1;
  static bool cachedWithDate = false;
  static char text[32];
  static size_t length = 0;
  if (seconds != cachedSeconds || withDate != cachedWithDate) {
    tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) return "??:??:??";
    length = std::strftime(text, sizeof text, withDate ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &parts);
    cachedSeconds = seconds;
    cachedWithDate = withDate;
  }
  return {text, length};
}

// Tab stops every eight columns: a prefix that ends on one keeps the tabs
// of the lines behind it where they would be without it.
constexpr size_t kTabWidth = 8;
// The widest IPv4 client end, "255.255.255.255:65535", and a blank.
constexpr size_t kClientColumn = 22;

}  // namespace

const char* directionText(bool sent) { return sent ? "Sent" : "Rcvd"; }

void MessagePrinter::beginLine(std::string_view client) {
  prefixWidth_ = 0;
  if (prefix_.time == TimeStamp::None && !prefix_.connection) return;
  const size_t start = consolePendingSize();
  if (prefix_.time != TimeStamp::None) {
    consoleWrite(localTimeText(frameTime_.tv_sec, prefix_.time == TimeStamp::DateTime));
    consolePrint(".%06u ", static_cast<unsigned>(frameTime_.tv_usec));
  }
  if (prefix_.connection) {
    consoleWrite(client);
    consoleWrite(
        std::string_view("                      ", kClientColumn - std::min(client.size(), kClientColumn - 1)));
  }
  size_t width = consolePendingSize() - start;
  if (width % kTabWidth != 0) {
    const size_t padding = kTabWidth - width % kTabWidth;
    consoleWrite(std::string_view("        ", padding));
    width += padding;
  }
  prefixWidth_ = width;
}

// The message's text leaves in one write to the stream: a terminal sees
// whole messages, and when each message is pushed out at once, so is its dump.
void MessagePrinter::finishMessage(size_t start) {
  consoleIndentSince(start, prefixWidth_);
  ++printed_;
  if (flushEachMessage) {
    flush();
  } else {
    consoleMessageDone();
  }
}

// A log that cannot be written (a full disk, a lost share, a pipe whose
// reader left) is given up with one message, rather than left with gaps
// nobody knows about.
void MessagePrinter::stopLogging() {
  consolePrint("Error: Unable to write to log file %s (%s); logging stopped.\n", settings_.logFileName.c_str(),
               std::strerror(errno));
  log = nullptr;
}

void MessagePrinter::logMessage(std::span<const uint8_t> message, bool sent) {
  if (log == nullptr || writeHexDump(log, message, directionText(sent))) return;
  stopLogging();
}

void MessagePrinter::printMessage(const MessageReader& reader, bool sent, std::string_view client) {
  if (limitReached()) return;
  const size_t start = consolePendingSize();
  beginLine(client);
  consoleWrite(summaryStart(sent, reader.id()));
  MessageReader fields = reader;  // decoding moves its cursor
  decodeDetails(fields, sent, settings_);
  logMessage(reader.bytes(), sent);
  finishMessage(start);
}

void MessagePrinter::printTooLong(const MessageHeader& header, bool sent, std::string_view client) {
  if (limitReached()) return;
  const size_t start = consolePendingSize();
  beginLine(client);
  consoleWrite(summaryStart(sent, header.id));
  consolePrint("(too long to decode: %u bytes)\n", static_cast<unsigned>(header.length));
  finishMessage(start);
}

void MessagePrinter::printNote(std::string_view client, std::string_view text) {
  if (limitReached()) return;
  beginLine(client);
  consoleWrite(text);
  consoleWrite("\n");
  if (flushEachMessage) flush();
}

void MessagePrinter::flush() {
  if (log != nullptr && std::fflush(log) != 0) stopLogging();
  flushConsole();
}

}  // namespace vestrel
