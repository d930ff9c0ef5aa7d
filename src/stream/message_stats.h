// --stats: what the messages shown add up to, per message id and direction
// and per connection, printed once the messages are done: a table on the
// console, or one JSON object.
#pragma once

#include <sys/time.h>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "decode/display_settings.h"
#include "stream/connection_table.h"

namespace vestrel {

class MessageStats {
 public:
  // One message shown; connection: none on the one shared stream.
  void count(uint8_t id, bool sent, uint32_t length, const ConnectionKey* connection, const timeval& time);

  // The table, or with json the object, written to the console.
  void print(DecoderSet names, bool json) const;

  // The messages of connections past this many are added up in one row, so that a capture
  // of any length keeps the table's memory bounded.
  static constexpr size_t kMaxConnections = size_t{1} << 16;

 private:
  struct Tally {
    uint64_t messages = 0;
    uint64_t bytes = 0;
  };
  struct ConnectionTally {
    ConnectionKey key;
    timeval first{};
    timeval last{};
    uint64_t sent = 0;
    uint64_t received = 0;
  };
  void countConnection(ConnectionTally& tally, bool sent, const timeval& time);
  static void printConnectionRow(const std::string& client, const std::string& server, const ConnectionTally& tally);
  void printTable(DecoderSet names) const;
  void printJson(DecoderSet names) const;

  // [sent][id]
  std::array<std::array<Tally, 256>, 2> perId_{};
  // In the order their first message was shown.
  std::vector<ConnectionTally> connections_;
  std::unordered_map<ConnectionKey, size_t, ConnectionKeyHash> index_;
  ConnectionTally laterConnections_;  // the messages of those past kMaxConnections
};

}  // namespace vestrel
