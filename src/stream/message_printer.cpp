#include "stream/message_printer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include "decode/decode_details.h"
#include "decode/message_names.h"
#include "output/console.h"
#include "output/hex_dump.h"
#include "output/json_text.h"

namespace vestrel {

namespace {

// The start of every summary line depends only on the names, direction
// and id, so each is formatted once, when first needed.
std::string_view summaryStart(DecoderSet names, bool sent, uint8_t id) {
  static std::array<std::string, 1024> starts;
  std::string& start = starts[(names == DecoderSet::Full ? 512U : 0U) + (sent ? 256U : 0U) + id];
  if (start.empty()) {
    char text[128];
    const int length =
        std::snprintf(text, sizeof text, "%s -> [0x%2.2X] %-20s -> ", directionText(sent), id, messageName(id, names));
    if (length > 0) start.assign(text, std::min(static_cast<size_t>(length), sizeof text - 1));
  }
  return start;
}

// The local date and time of a second, "...:SS" at its end. The library
// is asked once per minute of local time: within one, only the seconds
// change (zones change their offset at whole minutes).
class SecondText {
 public:
  explicit SecondText(const char* format) : format_(format) {}

  std::string_view of(time_t seconds) {
    const time_t intoMinute = seconds - minuteStart_;
    if (length_ >= 2 && intoMinute >= 0 && intoMinute < 60) {
      text_[length_ - 2] = static_cast<char>('0' + intoMinute / 10);
      text_[length_ - 1] = static_cast<char>('0' + intoMinute % 10);
      return {text_, length_};
    }
    tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) return "??:??:??";
    length_ = std::strftime(text_, sizeof text_, format_, &parts);
    // A leap second (60) is no minute's start: it is asked for again.
    minuteStart_ = parts.tm_sec < 60 ? seconds - parts.tm_sec : kNever;
    return {text_, length_};
  }

 private:
  static constexpr time_t kNever = std::numeric_limits<time_t>::min() / 2;
  const char* format_;
  time_t minuteStart_ = kNever;
  char text_[32] = "";
  size_t length_ = 0;
};

}  // namespace

std::string_view localTimeText(time_t seconds, bool withDate) {
  static SecondText time("%H:%M:%S");
  static SecondText dateTime("%Y-%m-%d %H:%M:%S");
  return (withDate ? dateTime : time).of(seconds);
}

namespace {

// How a value is told, on the console and in JSON.
template <typename Value>
struct ValueText {
  Value value;
  const char* console;
  const char* json;
};

// The entry of value in a table of texts; the first entry when none has it.
template <typename Value, size_t Size>
const ValueText<Value>& textOf(const ValueText<Value> (&table)[Size], Value value) {
  for (const ValueText<Value>& text : table) {
    if (text.value == value) return text;
  }
  return table[0];
}

// A connection's end.
constexpr ValueText<CloseReason> kCloseTexts[] = {
    {CloseReason::Fin, "closed (FIN)", "FIN"},
    {CloseReason::Rst, "closed (RST)", "RST"},
    {CloseReason::Idle, "closed (idle)", "idle"},
    {CloseReason::PortsReused, "closed (its ports are used again)", "ports_reused"},
    {CloseReason::TableFull, "forgotten (too many connections)", "table_full"},
};

// Why bytes were not delivered or a flag changed nothing.
constexpr ValueText<Refusal> kRefusalTexts[] = {
    {Refusal::OutOfWindow, "out of window", "out_of_window"},
    {Refusal::AfterFin, "after its FIN", "after_fin"},
    {Refusal::OnRst, "on an RST", "on_rst"},
    {Refusal::AfterRst, "after the RST", "after_rst"},
    {Refusal::NotAtNextByte, "not at the next byte", "not_at_next_byte"},
    {Refusal::ConnectionOpen, "the connection is open", "connection_open"},
};

const ValueText<CloseReason>& closeText(CloseReason reason) { return textOf(kCloseTexts, reason); }
const ValueText<Refusal>& refusalText(Refusal refusal) { return textOf(kRefusalTexts, refusal); }

const char* flagName(uint8_t flag) { return flag == kTcpSyn ? "SYN" : (flag == kTcpFin ? "FIN" : "RST"); }

unsigned long long wide(uint64_t count) { return static_cast<unsigned long long>(count); }

void printIncomplete(const ConnectionEvent& event) {
  if (event.messageLength != 0) {
    consolePrint("%s -> (incomplete message: %llu of %u bytes)", directionText(event.sent), wide(event.bytes),
                 static_cast<unsigned>(event.messageLength));
  } else {
    consolePrint("%s -> (incomplete message: %llu bytes of its header)", directionText(event.sent), wide(event.bytes));
  }
}

void printEventText(const ConnectionKey& connection, const ConnectionEvent& event) {
  const char* direction = directionText(event.sent);
  switch (event.change) {
    case ConnectionChange::Opened:
      consolePrint("Conn -> opened to %s, protocol byte 0x%2.2X%s",
                   endpointText(connection.server, connection.serverPort).c_str(), event.protocolByte,
                   event.carriesMessages ? "" : ": no chat messages, its bytes are passed over");
      break;
    case ConnectionChange::OpenBeforeCapture:
      consolePrint("Conn -> to %s, open before the capture began",
                   endpointText(connection.server, connection.serverPort).c_str());
      break;
    case ConnectionChange::Closed: consolePrint("Conn -> %s", closeText(event.reason).console); break;
    case ConnectionChange::Lost: consolePrint("%s -> (%llu bytes lost)", direction, wide(event.bytes)); break;
    case ConnectionChange::Skipped:
      consolePrint("%s -> (%llu bytes skipped to the next message)", direction, wide(event.bytes));
      break;
    case ConnectionChange::Incomplete: printIncomplete(event); break;
    case ConnectionChange::NotDelivered:
      consolePrint("%s -> (%llu bytes %s, not delivered)", direction, wide(event.bytes),
                   refusalText(event.refusal).console);
      break;
    case ConnectionChange::Ignored:
      consolePrint("%s -> (%s ignored: %s)", direction, flagName(event.flag), refusalText(event.refusal).console);
      break;
  }
  consoleWrite("\n");
}

// Where the characters column starts on a line of the dump: after the
// offset, four digits and a blank, and sixteen bytes of three characters.
constexpr size_t kDumpTextColumn = 5 + 16 * 3;

// The dump without its characters column (-x): each line of bytes cut
// before it, the blanks before it dropped.
std::string withoutTextColumn(std::string_view dump) {
  std::string bytes;
  bool heading = true;
  for (size_t at = 0; at < dump.size();) {
    const size_t end = std::min(dump.find('\n', at), dump.size());
    std::string_view line = dump.substr(at, end - at);
    if (!heading) line = line.substr(0, std::min(line.size(), kDumpTextColumn));
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    bytes.append(line).append(1, '\n');
    heading = false;
    at = end + 1;
  }
  return bytes;
}

// The log's dump of the message, its characters column made safe for a
// terminal (bytes past ASCII show as dots, as controls already do), or
// without it.
void printDump(std::span<const uint8_t> message, bool sent, bool withText) {
  std::string dump(formatHexDump(message, directionText(sent)).text());
  if (!withText) {
    consoleWrite(withoutTextColumn(dump));
    return;
  }
  std::replace_if(
      dump.begin(), dump.end(), [](char byte) { return static_cast<uint8_t>(byte) >= 0x7F; }, '.');
  consoleWrite(dump);
}

// The summary line's start without the arrow that leads to the details,
// nor the blanks that align it.
std::string_view summaryAlone(std::string_view start) {
  constexpr std::string_view kArrow = " -> ";
  if (start.ends_with(kArrow)) start.remove_suffix(kArrow.size());
  while (!start.empty() && (start.back() == ' ' || start.back() == '\t')) start.remove_suffix(1);
  return start;
}

// Digits of value, width of them, zeros in front.
char* putDigits(char* out, unsigned value, size_t width) {
  for (size_t digit = width; digit > 0; --digit, value /= 10) out[digit - 1] = static_cast<char>('0' + value % 10);
  return out + width;
}

// ".uuuuuu " after the seconds, as tcpdump prints the microseconds field.
void writeMicroseconds(long microseconds) {
  char* const start = consoleRoom(8);
  start[0] = '.';
  putDigits(start + 1, static_cast<unsigned>(microseconds), 6);
  start[7] = ' ';
  consoleCommit(8);
}

// A time between two lines, as tcpdump's -ttt prints it: the sign or a
// blank, then hours (two digits or more), minutes, seconds, microseconds.
void writeTimeBetween(const timeval& later, const timeval& earlier) {
  constexpr int64_t kMicroseconds = 1'000'000;
  const int64_t difference = (static_cast<int64_t>(later.tv_sec) - earlier.tv_sec) * kMicroseconds +
                             (static_cast<int64_t>(later.tv_usec) - earlier.tv_usec);
  const uint64_t size = difference < 0 ? 0 - static_cast<uint64_t>(difference) : static_cast<uint64_t>(difference);
  const uint64_t seconds = size / kMicroseconds;
  consolePrint("%c%02llu:%02u:%02u", difference < 0 ? '-' : ' ', static_cast<unsigned long long>(seconds / 3600),
               static_cast<unsigned>(seconds % 3600 / 60), static_cast<unsigned>(seconds % 60));
  writeMicroseconds(static_cast<long>(size % kMicroseconds));
}

// "YYYY-MM-DDTHH:MM:SS" in UTC, formatted when the second changes; empty
// for a second outside the years 1 to 9999, which RFC 3339 cannot write.
std::string_view utcSecondText(time_t seconds) {
  static time_t cachedSeconds = -1;
  static char text[32];
  static size_t length = 0;
  if (seconds == cachedSeconds && length != 0) return {text, length};
  tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr || parts.tm_year < 1 - 1900 || parts.tm_year > 9999 - 1900) return {};
  char* out = putDigits(text, static_cast<unsigned>(parts.tm_year + 1900), 4);
  *out++ = '-';
  out = putDigits(out, static_cast<unsigned>(parts.tm_mon + 1), 2);
  *out++ = '-';
  out = putDigits(out, static_cast<unsigned>(parts.tm_mday), 2);
  *out++ = 'T';
  out = putDigits(out, static_cast<unsigned>(parts.tm_hour), 2);
  *out++ = ':';
  out = putDigits(out, static_cast<unsigned>(parts.tm_min), 2);
  *out++ = ':';
  out = putDigits(out, static_cast<unsigned>(parts.tm_sec), 2);
  cachedSeconds = seconds;
  length = static_cast<size_t>(out - text);
  return {text, length};
}

}  // namespace

// RFC 3339 in UTC, to the microsecond. A capture may store a microsecond
// field of a second or more, or below zero: it is carried into the
// seconds. A time no RFC 3339 text can hold is null.
void writeJsonTime(JsonMembers& members, const timeval& time, std::string_view key) {
  members.key(key);
  constexpr int64_t kMicroseconds = 1'000'000;
  const int64_t microseconds = time.tv_usec;
  const int64_t carried = microseconds / kMicroseconds - (microseconds % kMicroseconds < 0 ? 1 : 0);
  const auto fraction = static_cast<unsigned>(microseconds - carried * kMicroseconds);
  const std::string_view second = utcSecondText(static_cast<time_t>(time.tv_sec + carried));
  if (second.empty()) {
    consoleWrite("null");
    return;
  }
  constexpr size_t kFraction = 6;
  char* const start = consoleRoom(second.size() + kFraction + 4);
  char* out = start;
  *out++ = '"';
  out = std::copy(second.begin(), second.end(), out);
  *out++ = '.';
  out = putDigits(out, fraction, kFraction);
  *out++ = 'Z';
  *out++ = '"';
  consoleCommit(static_cast<size_t>(out - start));
}

std::string jsonEndpoint(const IpAddress& address, uint16_t port) {
  return "{\"address\":\"" + addressText(address) + "\",\"port\":" + std::to_string(port) + "}";
}

// The message's name without the blanks some names end with on the console.
std::string_view plainName(DecoderSet names, uint8_t id) {
  std::string_view name = messageName(id, names);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

namespace {

void writeJsonDirection(JsonMembers& members, bool sent) {
  members.key("direction");
  consoleWrite(sent ? "\"sent\"" : "\"received\"");
}

void writeJsonHeader(JsonMembers& members, DecoderSet names, bool sent, uint8_t id, uint16_t length) {
  writeJsonDirection(members, sent);
  members.key("id");
  writeJsonNumber(id);
  members.key("name");
  writeJsonString(plainName(names, id));
  members.key("length");
  writeJsonNumber(length);
}

void writeJsonBytes(JsonMembers& members, const ConnectionEvent& event) {
  writeJsonDirection(members, event.sent);
  members.key("bytes");
  writeJsonNumber(event.bytes);
}

void writeJsonEventMembers(JsonMembers& members, const ConnectionEvent& event) {
  static constexpr const char* kChangeNames[] = {"opened",  "open_before_capture", "closed",        "lost",
                                                 "skipped", "incomplete",          "not_delivered", "ignored"};
  members.key("event");
  consolePrint("\"%s\"", kChangeNames[static_cast<size_t>(event.change)]);
  switch (event.change) {
    case ConnectionChange::Opened:
      members.key("protocol_byte");
      writeJsonNumber(event.protocolByte);
      break;
    case ConnectionChange::OpenBeforeCapture: break;
    case ConnectionChange::Closed:
      members.key("reason");
      consolePrint("\"%s\"", closeText(event.reason).json);
      break;
    case ConnectionChange::Lost:
    case ConnectionChange::Skipped: writeJsonBytes(members, event); break;
    case ConnectionChange::Incomplete:
      writeJsonBytes(members, event);
      if (event.messageLength != 0) {
        members.key("length");
        writeJsonNumber(event.messageLength);
      }
      break;
    case ConnectionChange::NotDelivered:
      writeJsonBytes(members, event);
      members.key("reason");
      consolePrint("\"%s\"", refusalText(event.refusal).json);
      break;
    case ConnectionChange::Ignored:
      writeJsonDirection(members, event.sent);
      members.key("flag");
      consolePrint("\"%s\"", flagName(event.flag));
      members.key("reason");
      consolePrint("\"%s\"", refusalText(event.refusal).json);
      break;
  }
}

}  // namespace

const char* directionText(bool sent) { return sent ? "Sent" : "Rcvd"; }

// Only the form this printer shows is made: the client end in front of a
// console line, or the JSON object.
std::string_view MessagePrinter::connectionText(const ConnectionKey& connection) {
  if (described_ && *described_ == connection) return connectionText_;
  described_ = connection;
  connectionText_ = print_.json ? "{\"client\":" + jsonEndpoint(connection.client, connection.clientPort) +
                                      ",\"server\":" + jsonEndpoint(connection.server, connection.serverPort) + "}"
                                : endpointText(connection.client, connection.clientPort);
  return connectionText_;
}

void MessagePrinter::writeTime() {
  if (!firstLine_) firstLine_ = previousLine_ = frameTime_;
  switch (print_.time) {
    case TimeStamp::None: return;
    case TimeStamp::Time:
    case TimeStamp::DateTime: consoleWrite(localTimeText(frameTime_.tv_sec, print_.time == TimeStamp::DateTime)); break;
    case TimeStamp::Epoch: consolePrint("%lld", static_cast<long long>(frameTime_.tv_sec)); break;
    case TimeStamp::SincePrevious:
      writeTimeBetween(frameTime_, *previousLine_);
      previousLine_ = frameTime_;
      return;
    case TimeStamp::SinceFirst: writeTimeBetween(frameTime_, *firstLine_); return;
  }
  writeMicroseconds(frameTime_.tv_usec);
}

void MessagePrinter::beginLine(const ConnectionKey* connection) {
  const size_t start = consolePendingSize();
  writeTime();
  if (print_.connection && connection != nullptr) {
    consoleWrite(connectionText(*connection));
    consoleWrite(" ");
  }
  prefixWidth_ = consolePendingSize() - start;
}

// The message's text leaves in one write to the stream: a terminal sees
// whole messages, and when each message is pushed out at once, so is its dump.
void MessagePrinter::countMessage(uint8_t id, bool sent, uint32_t length, const ConnectionKey* connection) {
  ++printed_;
  if (stats != nullptr) stats->count(id, sent, length, connection, frameTime_);
  lineDone();
}

void MessagePrinter::lineDone() {
  if (flushEachMessage) {
    flush();
  } else {
    consoleMessageDone();
  }
}

// A log that cannot be written (a full disk, a lost share, a pipe whose
// reader left) is given up with one message, rather than left with gaps
// nobody knows about. JSON output keeps to its objects: the message goes
// to standard error then.
void MessagePrinter::stopLogging() {
  static constexpr const char* kStopped = "Error: Unable to write to log file %s (%s); logging stopped.\n";
  if (print_.json || !print_.show) {
    std::fprintf(stderr, kStopped, settings_.logFileName.c_str(), std::strerror(errno));
  } else {
    consolePrint(kStopped, settings_.logFileName.c_str(), std::strerror(errno));
  }
  log = nullptr;
}

void MessagePrinter::logMessage(std::span<const uint8_t> message, bool sent) {
  if (log == nullptr || logBlocks_.write(log, message, directionText(sent))) return;
  stopLogging();
}

// A message the filter passes is shown after the opening of its
// connection, when that was held.
bool MessagePrinter::filterPasses(bool passes, const ConnectionKey* connection) {
  if (!passes) return false;
  if (connection == nullptr) return true;
  if (const auto held = shown_.messageShown(*connection)) {
    const timeval now = frameTime_;
    frameTime_ = held->time;
    writeEvent(*connection, held->event);
    frameTime_ = now;
  }
  return true;
}

void MessagePrinter::printMessage(const MessageReader& reader, bool sent, const ConnectionKey* connection) {
  if (limitReached()) return;
  if (print_.filter && !filterPasses(print_.filter->passes(reader, sent), connection)) return;
  if (!print_.show) {
    logMessage(reader.bytes(), sent);
    countMessage(reader.id(), sent, static_cast<uint32_t>(reader.size()), connection);
    return;
  }
  if (print_.json) {
    printJsonMessage(reader, sent, connection);
    return;
  }
  beginLine(connection);
  const size_t bodyStart = consolePendingSize();
  const std::string_view summary = summaryStart(settings_.decoders, sent, reader.id());
  if (print_.summaryOnly) {
    consoleWrite(summaryAlone(summary));
    consoleWrite("\n");
  } else {
    consoleWrite(summary);
    MessageReader fields = reader;  // decoding moves its cursor
    decodeDetails(fields, sent, settings_);
  }
  if (print_.hex) printDump(reader.bytes(), sent, print_.hexWithText);
  consoleAlignSince(bodyStart, prefixWidth_);
  // After the alignment: a failing log's line is no part of the message.
  logMessage(reader.bytes(), sent);
  countMessage(reader.id(), sent, static_cast<uint32_t>(reader.size()), connection);
}

void MessagePrinter::printTooLong(const MessageHeader& header, bool sent, const ConnectionKey* connection) {
  if (limitReached()) return;
  if (print_.filter && !filterPasses(print_.filter->passesHeader(header, sent), connection)) return;
  if (!print_.show) {
    countMessage(header.id, sent, header.length, connection);
    return;
  }
  if (print_.json) {
    printJsonTooLong(header, sent, connection);
    return;
  }
  beginLine(connection);
  const size_t bodyStart = consolePendingSize();
  consoleWrite(summaryStart(settings_.decoders, sent, header.id));
  consolePrint("(too long to decode: %u bytes)\n", static_cast<unsigned>(header.length));
  consoleAlignSince(bodyStart, prefixWidth_);
  countMessage(header.id, sent, header.length, connection);
}

void MessagePrinter::printEvent(const ConnectionKey& connection, const ConnectionEvent& event) {
  if (limitReached() || !print_.show) return;
  if (print_.filter && !shown_.showsEvent(connection, event, frameTime_)) return;
  writeEvent(connection, event);
}

void MessagePrinter::writeEvent(const ConnectionKey& connection, const ConnectionEvent& event) {
  if (!print_.show) return;
  if (print_.json) {
    printJsonEvent(connection, event);
  } else if (print_.connection) {
    beginLine(&connection);
    printEventText(connection, event);
  } else {
    return;
  }
  // As a message's: a run of events with no message between (a flood of
  // connections, the end of a capture) goes out in batches, never held.
  lineDone();
}

void MessagePrinter::beginJsonObject(const ConnectionKey* connection, JsonMembers& members) {
  consoleWrite("{");
  writeJsonTime(members, frameTime_);
  if (connection == nullptr) return;
  members.key("connection");
  consoleWrite(connectionText(*connection));
}

void MessagePrinter::printJsonMessage(const MessageReader& reader, bool sent, const ConnectionKey* connection) {
  JsonMembers members;
  beginJsonObject(connection, members);
  writeJsonHeader(members, settings_.decoders, sent, reader.id(), static_cast<uint16_t>(reader.size()));
  members.key("fields");
  MessageReader fields = reader;  // decoding moves its cursor
  decodeJsonFields(fields, sent, settings_);
  if (print_.hex) {
    members.key("raw");
    writeJsonHex(reader.bytes());
  }
  consoleWrite("}\n");
  logMessage(reader.bytes(), sent);
  countMessage(reader.id(), sent, static_cast<uint32_t>(reader.size()), connection);
}

void MessagePrinter::printJsonTooLong(const MessageHeader& header, bool sent, const ConnectionKey* connection) {
  JsonMembers members;
  beginJsonObject(connection, members);
  members.key("event");
  consoleWrite("\"too_long\"");
  writeJsonHeader(members, settings_.decoders, sent, header.id, header.length);
  consoleWrite("}\n");
  countMessage(header.id, sent, header.length, connection);
}

void MessagePrinter::printJsonEvent(const ConnectionKey& connection, const ConnectionEvent& event) {
  JsonMembers members;
  beginJsonObject(&connection, members);
  writeJsonEventMembers(members, event);
  consoleWrite("}\n");
}

void MessagePrinter::flush() {
  if (log != nullptr && !logBlocks_.flush(log)) stopLogging();
  flushConsole();
}

}  // namespace vestrel
