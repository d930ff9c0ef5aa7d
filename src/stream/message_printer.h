// Prints each message cut out of a stream: the summary line, the fields
// as decode shows them, and the hex dump in the log; in front of them, when
// asked, the capture time and the connection's client end.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "decode/display_settings.h"
#include "decode/message_reader.h"
#include "output/owned_file.h"

namespace vestrel {

// The display settings and the traffic log, as a command line fills them.
struct OutputSettings : DisplaySettings {
  std::string logFileName;  // as the user named it
  OwnedFile logFile;        // open when the log could be created
};

enum class TimeStamp { None, Time, DateTime };

// What goes in front of every line of a message.
struct PrefixSettings {
  TimeStamp time = TimeStamp::None;  // HH:MM:SS.uuuuuu or YYYY-MM-DD HH:MM:SS.uuuuuu, local time
  bool connection = false;           // the client end, e.g. 10.0.0.5:50312
};

class MessagePrinter {
 public:
  explicit MessagePrinter(const OutputSettings& settings, PrefixSettings prefix = {})
      : log(settings.logFile.get()), settings_(settings), prefix_(prefix) {}

  // The capture time of the frame being handled: every message it completes
  // is stamped with it.
  void setFrameTime(const timeval& time) { frameTime_ = time; }

  // client: the connection's client end as text, or empty (one shared stream).
  void printMessage(const MessageReader& reader, bool sent, std::string_view client = {});
  // A message longer than the stream can hold: shown by its header.
  void printTooLong(const MessageHeader& header, bool sent, std::string_view client = {});
  // A line about the connection itself (opened, closed, bytes lost), already
  // starting with its own "Word -> ".
  void printNote(std::string_view client, std::string_view text);

  // Pushes out what the console and the log hold; a log that fails now is
  // given up with a message on the console.
  void flush();

  // Messages printed so far; with a limit set, messages past it are not printed.
  uint64_t printed() const { return printed_; }
  void setLimit(uint64_t limit) { limit_ = limit; }
  bool limitReached() const { return limit_ != 0 && printed_ >= limit_; }

  // Where the hex dumps go; none once a write to it has failed.
  FILE* log;
  // Push each message and its dump out at once; a live capture flushes
  // after each batch of frames instead, a reader of files at the end.
  bool flushEachMessage = true;

 private:
  void beginLine(std::string_view client);
  void finishMessage(size_t start);
  void logMessage(std::span<const uint8_t> message, bool sent);
  void stopLogging();

  const OutputSettings& settings_;
  PrefixSettings prefix_;
  timeval frameTime_{};
  // The width of the prefix written for the current message: continuation
  // lines are indented by as much.
  size_t prefixWidth_ = 0;
  uint64_t printed_ = 0;
  uint64_t limit_ = 0;
};

const char* directionText(bool sent);

}  // namespace vestrel
