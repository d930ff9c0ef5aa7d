// A whole session as a client and its server have it, over real TCP: logon,
// account management, chat and leaving, with messages cut over two segments
// and packed several to one, and what the program shows for it with each set
// of options. It runs captured on lo, on the any device, and recorded to
// capture files for the reader.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "live_fixture.h"

namespace vestrel::live {

struct SessionMessage {
  Side from;
  uint8_t id;
  const char* name;
  Bytes bytes;
  std::string details;                     // the rest of its line with no options
  std::optional<std::string> fullDetails;  // with -u -s, where they differ
  size_t splitAt = 0;                      // when not 0: its first segment ends after this many bytes
  bool packWithNext = false;               // its last segment carries the next message too
};

// Every decoder of both directions at least once, in the order of a session.
std::vector<SessionMessage> wholeSession();

// Sends the session one segment at a time, as each message says.
void sendInSegments(ChatConnection& connection, const std::vector<SessionMessage>& session);

struct OptionSet {
  std::string name;
  std::vector<std::string> options;
  bool full;  // -u and -s: details with unknown fields and whole texts
  bool log;   // adds -l with a file in the case's scratch directory
};

void PrintTo(const OptionSet& set, std::ostream* out);

// No options; -u -s; -u -s and -l.
const std::vector<OptionSet>& sessionOptionSets();
inline std::string optionSetName(const testing::TestParamInfo<OptionSet>& info) { return info.param.name; }

// The program capturing with one option set, and the session on one
// connection.
class WholeSessionTest : public LiveCaptureTest, public testing::WithParamInterface<OptionSet> {
 protected:
  std::vector<std::string> captureOptions() const override;

  // Connects, then sends the protocol byte and the session. The connection
  // stays open until the case ends.
  void sendWholeSession();
  // Ends the traffic with the end mark and checks the program's whole output
  // and, with -l, its log (see expectLinesAndLog).
  void expectWholeSession();

  ScratchDirectory scratch_;
  std::filesystem::path logPath_ = scratch_.path() / "session.log";

 private:
  std::vector<SessionMessage> session_ = wholeSession();
  std::optional<ChatConnection> connection_;
};

}  // namespace vestrel::live
