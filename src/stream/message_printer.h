// Prints each message cut out of a stream: on the console, the summary
// line, the fields as decode shows them and, in front of them when asked,
// the capture time and the connection's client end; or one JSON object a
// line. The hex dump goes in the log either way.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decode/display_settings.h"
#include "decode/message_filter.h"
#include "decode/message_reader.h"
#include "output/hex_dump.h"
#include "output/json_text.h"
#include "output/owned_file.h"
#include "stream/connection_events.h"
#include "stream/connection_table.h"
#include "stream/message_stats.h"
#include "stream/shown_connections.h"

namespace vestrel {

// The display settings and the traffic log, as a command line fills them.
struct OutputSettings : DisplaySettings {
  std::string logFileName;  // as the user named it
  OwnedFile logFile;        // open when the log could be created
};

// The time in front of a console line, in tcpdump's forms: the local time
// of day, 12:00:01.123456; seconds since the epoch, 1733650801.123456; the
// time since the previous line or since the first, " 00:00:00.000045"
// (a minus instead of the blank when it runs backwards); the local date
// and time, 2026-12-08 12:00:01.123456.
enum class TimeStamp { None, Time, Epoch, SincePrevious, DateTime, SinceFirst };

// How each message is printed.
struct PrintSettings {
  // On the console, in front of every message, each followed by one blank:
  // the time and the client end, e.g. 10.0.0.5:50312. With the client end
  // come the lines about the connections (opened, closed, bytes lost), with
  // the same prefix. Lines after a message's first are indented by the
  // prefix's width, so its details stay aligned under one another.
  TimeStamp time = TimeStamp::None;
  bool connection = false;
  // One JSON object a line instead, each with its time, its connection when
  // there is one, and the connections' events.
  bool json = false;
  // The whole message in hex as well: its dump under it on the console,
  // with the characters column when hexWithText; "raw" in JSON.
  bool hex = false;
  bool hexWithText = false;
  // On the console, the summary line alone: direction, id and name.
  bool summaryOnly = false;
  // Nothing on the console at all (it carries something else); messages
  // are still counted and logged.
  bool show = true;
  // When set, only the messages it passes are shown, counted and logged,
  // and the events of their connections (see ShownConnections).
  std::shared_ptr<const MessageFilter> filter;
};

class MessagePrinter final : public ConnectionEvents {
 public:
  explicit MessagePrinter(const OutputSettings& settings, PrintSettings print = {})
      : log(settings.logFile.get()), settings_(settings), print_(std::move(print)) {}

  // The capture time of the frame being handled: every message it completes
  // is stamped with it.
  void setFrameTime(const timeval& time) { frameTime_ = time; }

  // connection: the message's connection, or none (one shared stream).
  void printMessage(const MessageReader& reader, bool sent, const ConnectionKey* connection = nullptr);
  // A message longer than the stream can hold: shown by its header.
  void printTooLong(const MessageHeader& header, bool sent, const ConnectionKey* connection = nullptr);
  // Shown on the console with the client ends only; always in JSON.
  void printEvent(const ConnectionKey& connection, const ConnectionEvent& event);

  // What the connection tracker tells, printed as above.
  void frameTime(const timeval& time) override { setFrameTime(time); }
  void message(const MessageReader& reader, bool sent, const ConnectionKey& connection) override {
    printMessage(reader, sent, &connection);
  }
  void tooLong(const MessageHeader& header, bool sent, const ConnectionKey& connection) override {
    printTooLong(header, sent, &connection);
  }
  void event(const ConnectionKey& connection, const ConnectionEvent& event) override { printEvent(connection, event); }

  // Pushes out what the console and the log hold; a log that fails now is
  // given up with a message on the console.
  void flush();

  // Messages printed so far; with a limit set, messages past it are not printed.
  uint64_t printed() const { return printed_; }
  void setLimit(uint64_t limit) { limit_ = limit; }
  bool limitReached() const { return limit_ != 0 && printed_ >= limit_; }

  // Adds up each message printed, when --stats asks.
  MessageStats* stats = nullptr;
  // Where the hex dumps go; none once a write to it has failed.
  FILE* log;
  // Push each message and its dump out at once; a live capture flushes
  // after each batch of frames instead, a reader of files at the end.
  bool flushEachMessage = true;

 private:
  bool filterPasses(bool passes, const ConnectionKey* connection);
  void writeEvent(const ConnectionKey& connection, const ConnectionEvent& event);
  void beginLine(const ConnectionKey* connection);
  void writeTime();
  void countMessage(uint8_t id, bool sent, uint32_t length, const ConnectionKey* connection);
  // A message's or event's text is whole: out now, or with the next batch.
  void lineDone();
  std::string_view connectionText(const ConnectionKey& connection);
  void beginJsonObject(const ConnectionKey* connection, JsonMembers& members);
  void printJsonMessage(const MessageReader& reader, bool sent, const ConnectionKey* connection);
  void printJsonTooLong(const MessageHeader& header, bool sent, const ConnectionKey* connection);
  void printJsonEvent(const ConnectionKey& connection, const ConnectionEvent& event);
  void logMessage(std::span<const uint8_t> message, bool sent);
  void stopLogging();

  const OutputSettings& settings_;
  PrintSettings print_;
  timeval frameTime_{};
  // What -ttt and -ttttt measure from: the previous line's time, the first's.
  std::optional<timeval> previousLine_;
  std::optional<timeval> firstLine_;
  // The width of the prefix written for the current message: continuation
  // lines are indented by as much.
  size_t prefixWidth_ = 0;
  uint64_t printed_ = 0;
  uint64_t limit_ = 0;
  // The last connection's text, in the form this printer shows: its
  // messages mostly come in runs.
  std::optional<ConnectionKey> described_;
  std::string connectionText_;
  HexDumpLog logBlocks_;
  ShownConnections shown_;
};

const char* directionText(bool sent);

// Shared with the statistics: the local time of day, with the date when
// asked, "2026-12-08 12:00:01"; a time in JSON under key, RFC 3339 in UTC;
// an end in JSON, {"address":"10.0.0.5","port":50312}; a message's name
// without the blanks some end with on the console.
std::string_view localTimeText(time_t seconds, bool withDate);
void writeJsonTime(JsonMembers& members, const timeval& time, std::string_view key = "time");
std::string jsonEndpoint(const IpAddress& address, uint16_t port);
std::string_view plainName(DecoderSet names, uint8_t id);

}  // namespace vestrel
