// -Y on the two real sessions: which messages each expression passes (their
// number and ids, as an independent reading of the --json output gives
// them), the connection lines kept around them, and every expression
// refused at start with where it went wrong.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "read/run_program.h"

namespace vestrel::read {
namespace {

const std::string kReader = VESTREL_TRACE_BINARY;
const std::string kSamples = VESTREL_SAMPLES_DIR;

struct Passing {
  size_t count;
  std::string ids;  // the distinct ids, in hex, ascending
};

struct FilterCase {
  std::string expression;
  Passing legacy;
  Passing games;
  std::vector<std::string> options = {};
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << c.expression; }

Passing passingMessages(const std::string& output) {
  static const std::regex kMessage("(?:Sent|Rcvd) -> \\[0x(..)\\]");
  Passing passing{0, ""};
  std::set<std::string> ids;
  for (auto match = std::sregex_iterator(output.begin(), output.end(), kMessage); match != std::sregex_iterator();
       ++match) {
    ++passing.count;
    ids.insert((*match)[1]);
  }
  for (const std::string& id : ids) passing.ids += (passing.ids.empty() ? "" : " ") + id;
  return passing;
}

class Filters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filters, PassTheMessagesThatMatch) {
  for (const auto& [capture, expected] :
       {std::pair{"real-legacy", GetParam().legacy}, {"real-games", GetParam().games}}) {
    std::vector<std::string> arguments = {
        "-t", "-q", "-r", kSamples + "/" + capture + ".pcap", "-Y", GetParam().expression};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const ChildResult result = runProgram({kReader, arguments});
    EXPECT_EQ(result.status, "exit 0") << capture << ": " << result.errors;
    const Passing passing = passingMessages(result.output);
    EXPECT_EQ(passing.count, expected.count) << capture;
    EXPECT_EQ(passing.ids, expected.ids) << capture;
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealSessions, Filters,
    ::testing::Values(
        // By the header alone.
        FilterCase{"name == SID_CHATCOMMAND", {0, ""}, {16, "0E"}},
        FilterCase{"direction == received and id < 0x10", {25, "00 05 06 07 0A 0B 0F"}, {85, "08 09 0A 0B 0F"}},
        FilterCase{"!(id != 0x25) && direction != sent", {0, ""}, {4, "25"}},
        FilterCase{"name contains \"LOGON\" and direction == sent", {5, "29 3E"}, {5, "3A"}},
        FilterCase{"length > 100", {6, "26 27 2E 46"}, {6, "0F 50 51"}},
        // Texts, and codes by their value; a message without the field
        // fails every comparison on it, and passes its negation.
        FilterCase{"text contains \"/w\"", {0, ""}, {1, "0E"}},
        FilterCase{"text matches \"^flood line [0-7]$\"", {0, ""}, {8, "0E"}},
        FilterCase{"username == \"rpAlpha\"", {0, ""}, {19, "0A 0F 3A"}},
        FilterCase{"result != 0", {6, "07 29 2A 30 31 36"}, {5, "2C 32 3A 3C"}},
        FilterCase{"not (result == 0)",
                   {100,
                    "00 05 06 07 0A 0B 0C 0F 10 12 14 15 16 17 18 1B 1D 1E 21 24 26 27 28 29 2A 2B 2D 2E 2F 30 "
                    "31 33 34 35 36 37 39 3E 40 41 42 45 46 4B 59 5D"},
                   {177, "02 08 09 0A 0B 0C 0E 0F 19 1A 1C 1F 22 25 2C 32 3A 3C 3D 50 51 59 5A 5B 65 66 67 68 69"}},
        FilterCase{"name == SID_CHATEVENT and event_id == 5", {1, "0F"}, {3, "0F"}},
        FilterCase{"ping > 0 || flags == 0x10", {0, ""}, {17, "0F"}},
        // Entries of lists, four-character codes, addresses, file times and
        // byte runs in their JSON forms; a key alone.
        FilterCase{"channels == \"Backstage\"", {0, ""}, {1, "0B"}},
        FilterCase{"game_name == \"RP Game\"", {0, ""}, {5, "09 1C 22"}},
        FilterCase{"product == \"STAR\"", {8, "06 07 15 21 2E 2F 3E"}, {6, "22 65 66 67"}},
        FilterCase{"realm_ip == \"127.0.0.1\"", {1, "3E"}, {0, ""}},
        FilterCase{"mpq_filetime > \"2021-06-19T13:25:11Z\"", {1, "06"}, {3, "50"}},
        FilterCase{"password_hash matches \"^e364\"", {0, ""}, {2, "3A"}}, FilterCase{"email", {1, "59"}, {2, "59 5A"}},
        // -c counts the messages shown; the shared stream filters by the
        // full set's keys and names too.
        FilterCase{"direction == sent and id > 0x20", {3, "2B 30 36"}, {3, "25 50 51"}, {"-c", "3"}},
        FilterCase{"text matches \"^/w\"", {0, ""}, {1, "0E"}, {"--single-stream"}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// A connection's lines stay around its shown messages: its opening with its
// own time, held until the first of them, and its close.
TEST(Filters, KeepTheEventsOfTheConnectionsShown) {
  const ChildResult result =
      runProgram({kReader, {"-tt", "-r", kSamples + "/real-games.pcap", "-Y", "text contains \"/w\""}});
  EXPECT_EQ(result.output,
            "1796693737.156894 127.0.0.1:48338 Conn -> opened to 127.0.0.1:6112, protocol byte 0x01\n"
            "1796693746.513066 127.0.0.1:48338 Sent -> [0x0E] SID_CHATCOMMAND      -> /w rpAlpha psst\n"
            "1796693754.976069 127.0.0.1:48338 Conn -> closed (FIN)\n");
}

struct BadExpression {
  std::string expression;
  std::string error;  // the first lines on standard error
};

void PrintTo(const BadExpression& c, std::ostream* out) { *out << c.expression; }

class BadExpressions : public ::testing::TestWithParam<BadExpression> {};

TEST_P(BadExpressions, AreRefusedAtStartShowingWhere) {
  const ChildResult result = runProgram({kReader, {"-r", kSamples + "/real-games.pcap", "-Y", GetParam().expression}});
  EXPECT_EQ(result.status, "exit 1");
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.errors.substr(0, result.errors.find("Usage:")), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, BadExpressions,
    ::testing::Values(
        BadExpression{"usernme == \"x\"",
                      "vestrel-trace: -Y: unknown field 'usernme' (nearest: username, user_name)\n"
                      "  usernme == \"x\"\n  ^~~~~~~\n"},
        BadExpression{"name == SID_CHATCOMAND",
                      "vestrel-trace: -Y: unknown message name 'SID_CHATCOMAND' (nearest: SID_CHATCOMMAND)\n"
                      "  name == SID_CHATCOMAND\n          ^~~~~~~~~~~~~~\n"},
        BadExpression{"id == 1 and result == \"ok\"",
                      "vestrel-trace: -Y: 'result' is a number: compare it with a number\n"
                      "  id == 1 and result == \"ok\"\n                        ^~~~\n"},
        BadExpression{"text < 5",
                      "vestrel-trace: -Y: 'text' holds text: compare it with a quoted text\n  text < 5\n         ^\n"},
        BadExpression{"text == hello",
                      "vestrel-trace: -Y: 'hello' needs quotes: only names and directions are written bare\n"
                      "  text == hello\n          ^~~~~\n"},
        BadExpression{"text contains 5",
                      "vestrel-trace: -Y: contains takes a quoted text\n  text contains 5\n                ^\n"},
        BadExpression{"text matches \"(a\"",
                      "vestrel-trace: -Y: not a regular expression: missing ): (a\n"
                      "  text matches \"(a\"\n               ^~~~\n"},
        BadExpression{"id == 0x1g",
                      "vestrel-trace: -Y: '0x1g' is not a number (decimal, or hex after 0x, below 2^64)\n"
                      "  id == 0x1g\n        ^~~~\n"},
        BadExpression{"id == 18446744073709551616",
                      "vestrel-trace: -Y: '18446744073709551616' is not a number (decimal, or hex after 0x, below "
                      "2^64)\n  id == 18446744073709551616\n        ^~~~~~~~~~~~~~~~~~~~\n"},
        BadExpression{"text == \"abc",
                      "vestrel-trace: -Y: text without its closing '\"'\n  text == \"abc\n          ^~~~\n"},
        BadExpression{"text == \"a\\q\"",
                      "vestrel-trace: -Y: unknown escape in a text (known: \\\" \\\\ \\n \\r \\t \\xHH)\n"
                      "  text == \"a\\q\"\n            ^~\n"},
        BadExpression{"(id == 1", "vestrel-trace: -Y: expected ')'\n  (id == 1\n          ^\n"},
        BadExpression{
            "id == 1 id == 2",
            "vestrel-trace: -Y: expected 'and', 'or' or the end, not 'id'\n  id == 1 id == 2\n          ^~\n"},
        BadExpression{"id = 1", "vestrel-trace: -Y: unexpected '='\n  id = 1\n     ^\n"},
        BadExpression{"id ==", "vestrel-trace: -Y: expected a value\n  id ==\n       ^\n"},
        BadExpression{"direction == up",
                      "vestrel-trace: -Y: 'direction' takes == or != and sent or received\n"
                      "  direction == up\n               ^~\n"},
        BadExpression{"name > SID_PING",
                      "vestrel-trace: -Y: 'name' takes ==, !=, contains or matches\n"
                      "  name > SID_PING\n         ^~~~~~~~\n"},
        BadExpression{"id", "vestrel-trace: -Y: expected ==, !=, <, >, contains or matches\n  id\n    ^\n"},
        BadExpression{"games == \"x\"",
                      "vestrel-trace: -Y: 'games' is a list: compare the keys of its entries\n"
                      "  games == \"x\"\n  ^~~~~\n"},
        BadExpression{std::string(130, '(') + "id == 1",
                      "vestrel-trace: -Y: nested too deep (more than 64 parentheses and 'not's)\n  " +
                          std::string(130, '(') + "id == 1\n  " + std::string(64, ' ') + "^\n"}));

}  // namespace
}  // namespace vestrel::read
