// What the README states that the code can check: the tables of decoded
// messages list exactly the ids each direction's decoder table holds, under
// the names the monitor prints, and the log excerpt is the sample's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <utility>

#include "decode/decoder_sets.h"
#include "decode/message_names.h"
#include "package/system_tools.h"

namespace vestrel::package {
namespace {

using MessageList = std::vector<std::pair<std::string, std::string>>;  // "0x0A", "SID_ENTERCHAT"

// A few names are printed with trailing blanks; the table shows the name.
std::string bareName(uint8_t id, DecoderSet set) {
  std::string name = messageName(id, set);
  name.erase(name.find_last_not_of(" \t") + 1);
  return name;
}

MessageList decodedMessages(std::span<const DecoderEntry* const> table, DecoderSet set) {
  MessageList messages;
  for (const DecoderEntry* entry : table) {
    if (entry == nullptr) continue;
    char id[8];
    static_cast<void>(std::snprintf(id, sizeof id, "0x%02X", static_cast<unsigned>(entry->id)));
    messages.emplace_back(id, bareName(entry->id, set));
  }
  std::sort(messages.begin(), messages.end());
  return messages;
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The rows "| 0x0A | SID_ENTERCHAT |" of the table that follows the line
// introducing it, up to the first line that is not part of the table.
MessageList readmeTable(const std::string& introduction) {
  const std::vector<std::string> lines = splitLines(readFile(VESTREL_README));
  auto line = std::find(lines.begin(), lines.end(), introduction);
  MessageList rows;
  if (line == lines.end()) return rows;
  line = std::find_if(std::next(line), lines.end(), [](const std::string& text) { return !text.empty(); });
  for (; line != lines.end() && line->starts_with("|"); ++line) {
    std::vector<std::string> cells;
    for (size_t at = 1, bar; (bar = line->find('|', at)) != std::string::npos; at = bar + 1) {
      cells.push_back(trim(line->substr(at, bar - at)));
    }
    if (cells.size() >= 2 && cells[0].starts_with("0x")) rows.emplace_back(cells[0], cells[1]);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string describe(const MessageList& messages) {
  std::string text;
  for (const auto& [id, name] : messages) {
    text += id;
    text += ' ';
    text += name;
    text += '\n';
  }
  return text;
}

TEST(ReadmeMessageTables, ListEveryDecoderOfBothSetsUnderItsName) {
  const auto listed = [](const char* introduction) { return describe(readmeTable(introduction)); };
  const auto decoded = [](DecoderSet set, bool sent) {
    return describe(decodedMessages(decoderIndex(set, sent), set));
  };
  EXPECT_EQ(listed("Client to server (`Sent`):"), decoded(DecoderSet::Classic, true));
  EXPECT_EQ(listed("Server to client (`Rcvd`):"), decoded(DecoderSet::Classic, false));
  EXPECT_EQ(listed("Client to server (`Sent`), each connection on its own:"), decoded(DecoderSet::Full, true));
  EXPECT_EQ(listed("Server to client (`Rcvd`), each connection on its own:"), decoded(DecoderSet::Full, false));
}

// The marker byte 0xFF is not UTF-8; the README shows it as the Latin-1
// character it is there.
TEST(ReadmeLogExcerpt, IsPartOfTheSampleLog) {
  const std::string readme = readFile(VESTREL_README);
  const std::string opening = "Part of the sample session's\nlog (";
  const size_t start = readme.find(opening);
  ASSERT_NE(start, std::string::npos);
  const size_t from = readme.find("```\n", start);
  ASSERT_NE(from, std::string::npos);
  const size_t end = readme.find("```", from + 4);
  ASSERT_NE(end, std::string::npos);
  std::string excerpt = readme.substr(from + 4, end - from - 4);
  for (size_t at; (at = excerpt.find("\u00FF")) != std::string::npos;) excerpt.replace(at, 2, "\xFF");

  EXPECT_GE(std::count(excerpt.begin(), excerpt.end(), '\n'), 4) << excerpt;
  EXPECT_NE(excerpt.find('\xFF'), std::string::npos);
  const std::string log = readFile(std::string(VESTREL_SOURCE_DIR) + "/tests/read/golden/chat-session.log");
  EXPECT_NE(log.find(excerpt), std::string::npos) << excerpt;
}

// Device numbers differ from machine to machine: every example takes the
// number from the list -d prints (N), none names a number of its own.
TEST(DeviceNumbers, ComeFromTheListInEveryDocument) {
  const std::string source = VESTREL_SOURCE_DIR;
  for (const std::string& document : {source + "/README.md", source + "/man/vestrel.1"}) {
    std::string text = readFile(document);
    for (const std::string_view escape : {"\\fI", "\\fP"}) {
      for (size_t at; (at = text.find(escape)) != std::string::npos;) text.erase(at, escape.size());
    }
    for (size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);
    const std::regex ownNumber(R"(-i +[0-9])");
    EXPECT_FALSE(std::regex_search(text, ownNumber)) << document;
    EXPECT_NE(text.find("vestrel -d"), std::string::npos) << document;
    EXPECT_NE(text.find("-i N"), std::string::npos) << document;
  }
}

// A fresh system lacks the capture library: apt installs it with the package.
TEST(ReadmeInstalling, InstallsThePackageWithApt) {
  const std::string readme = readFile(VESTREL_README);
  EXPECT_NE(readme.find("sudo apt install ./build/vestrel_" VESTREL_PROJECT_VERSION "_"), std::string::npos);
  EXPECT_EQ(readme.find("sudo dpkg -i"), std::string::npos);
}

}  // namespace
}  // namespace vestrel::package
