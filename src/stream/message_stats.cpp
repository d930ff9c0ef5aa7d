#include "stream/message_stats.h"

#include <algorithm>
#include <string>

#include "decode/message_names.h"
#include "output/console.h"
#include "output/json_text.h"
#include "stream/message_printer.h"

namespace vestrel {

namespace {

unsigned long long wide(uint64_t value) { return static_cast<unsigned long long>(value); }

// "2026-12-08 12:00:01.123456", local time, as -tttt shows it.
std::string localDateTime(const timeval& time) {
  std::string text(localTimeText(time.tv_sec, true));
  constexpr long kMicroseconds = 1'000'000;
  const long microseconds = (static_cast<long>(time.tv_usec) % kMicroseconds + kMicroseconds) % kMicroseconds;
  char fraction[16];
  static_cast<void>(std::snprintf(fraction, sizeof fraction, ".%06ld", microseconds));
  return text + fraction;
}

}  // namespace

void MessageStats::countConnection(ConnectionTally& tally, bool sent, const timeval& time) {
  if (tally.sent + tally.received == 0) tally.first = time;
  tally.last = time;
  ++(sent ? tally.sent : tally.received);
}

void MessageStats::count(uint8_t id, bool sent, uint32_t length, const ConnectionKey* connection, const timeval& time) {
  Tally& tally = perId_[sent ? 1 : 0][id];
  ++tally.messages;
  tally.bytes += length;
  if (connection == nullptr) return;
  const auto [entry, added] = index_.try_emplace(*connection, connections_.size());
  if (added && connections_.size() == kMaxConnections) {
    // Which of the later connections a message is cannot be told without
    // remembering them all: their messages are added up together.
    index_.erase(entry);
    countConnection(laterConnections_, sent, time);
    return;
  }
  if (added) connections_.push_back({.key = *connection});
  countConnection(connections_[entry->second], sent, time);
}

void MessageStats::print(DecoderSet names, bool json) const {
  if (json) {
    printJson(names);
  } else {
    printTable(names);
  }
}

void MessageStats::printConnectionRow(const std::string& client, const std::string& server,
                                      const ConnectionTally& tally) {
  consolePrint("%-21s  %-21s  %-26s  %-26s %8llu %9llu\n", client.c_str(), server.c_str(),
               localDateTime(tally.first).c_str(), localDateTime(tally.last).c_str(), wide(tally.sent),
               wide(tally.received));
}

void MessageStats::printTable(DecoderSet names) const {
  consolePrint("\nMessages by id and direction:\n%-4s  %-28s %-9s %10s %12s\n", "id", "name", "direction", "messages",
               "bytes");
  Tally total;
  for (const bool sent : {true, false}) {
    for (size_t id = 0; id < 256; ++id) {
      const Tally& tally = perId_[sent ? 1 : 0][id];
      if (tally.messages == 0) continue;
      consolePrint("0x%02X  %-28s %-9s %10llu %12llu\n", static_cast<unsigned>(id),
                   std::string(plainName(names, static_cast<uint8_t>(id))).c_str(), sent ? "sent" : "received",
                   wide(tally.messages), wide(tally.bytes));
      total.messages += tally.messages;
      total.bytes += tally.bytes;
    }
  }
  consolePrint("%-44s %10llu %12llu\n", "total", wide(total.messages), wide(total.bytes));
  if (connections_.empty()) return;
  consolePrint("\nConnections:\n%-21s  %-21s  %-26s  %-26s %8s %9s\n", "client", "server", "first", "last", "sent",
               "received");
  for (const ConnectionTally& connection : connections_) {
    printConnectionRow(endpointText(connection.key.client, connection.key.clientPort),
                       endpointText(connection.key.server, connection.key.serverPort), connection);
  }
  const ConnectionTally& later = laterConnections_;
  if (later.sent + later.received != 0) {
    printConnectionRow("(later connections)", "", later);
  }
}

void MessageStats::printJson(DecoderSet names) const {
  JsonMembers members;
  consoleWrite("{");
  members.key("stats");
  consoleWrite("{");
  JsonMembers stats;
  stats.key("messages");
  consoleWrite("[");
  JsonMembers rows;
  for (const bool sent : {true, false}) {
    for (size_t id = 0; id < 256; ++id) {
      const Tally& tally = perId_[sent ? 1 : 0][id];
      if (tally.messages == 0) continue;
      rows.next();
      JsonMembers row;
      consoleWrite("{");
      row.key("id");
      writeJsonNumber(id);
      row.key("name");
      writeJsonString(plainName(names, static_cast<uint8_t>(id)));
      row.key("direction");
      consoleWrite(sent ? "\"sent\"" : "\"received\"");
      row.key("messages");
      writeJsonNumber(tally.messages);
      row.key("bytes");
      writeJsonNumber(tally.bytes);
      consoleWrite("}");
    }
  }
  consoleWrite("]");
  stats.key("connections");
  consoleWrite("[");
  JsonMembers list;
  for (const ConnectionTally& connection : connections_) {
    list.next();
    JsonMembers row;
    consoleWrite("{");
    row.key("client");
    consoleWrite(jsonEndpoint(connection.key.client, connection.key.clientPort));
    row.key("server");
    consoleWrite(jsonEndpoint(connection.key.server, connection.key.serverPort));
    writeJsonTime(row, connection.first, "first");
    writeJsonTime(row, connection.last, "last");
    row.key("sent");
    writeJsonNumber(connection.sent);
    row.key("received");
    writeJsonNumber(connection.received);
    consoleWrite("}");
  }
  consoleWrite("]");
  stats.key("later_connections");
  consoleWrite("{");
  JsonMembers later;
  later.key("sent");
  writeJsonNumber(laterConnections_.sent);
  later.key("received");
  writeJsonNumber(laterConnections_.received);
  consoleWrite("}}}\n");
}

}  // namespace vestrel
