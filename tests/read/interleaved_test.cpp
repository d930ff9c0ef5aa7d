// vestrel-trace on captures of many clients at once, their segments
// interleaved, split, sent again, swapped, with keep-alive probes, IPv6
// clients, a connection met mid-way and a segment lost for good: each
// connection must show every message once, in its order and direction,
// and the loss where it happened. The generator writes what must be shown.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "read/run_program.h"

namespace vestrel::read {
namespace {

const std::string kTrace = VESTREL_TRACE_BINARY;
const std::string kGenerator = VESTREL_GEN_BINARY;

// The lines of each direction of each client ("10.0.3.7:40012 Sent"), in
// order: "0x0E", "lost 61". Across directions the order is free: bytes
// held behind a gap come out when it is given up, the other direction's
// messages meanwhile.
using LinesByClient = std::map<std::string, std::vector<std::string>>;

// "10.0.3.7:40012 Sent": one direction of one client.
std::string directionOf(std::string client, const std::string& direction) {
  client += ' ';
  client += direction;
  return client;
}

LinesByClient expectedLines(const std::string& text) {
  LinesByClient lines;
  std::istringstream in(text);
  for (std::string client, word, id, count; in >> client >> word;) {
    in >> id >> count;
    if (word == "lost") {
      lines[directionOf(client, id)].push_back("lost " + count);
    } else {
      lines[directionOf(client, word)].push_back(id);
    }
  }
  return lines;
}

// From `vestrel-trace -t`: "CLIENT Sent -> [0x0E] ..." and
// "CLIENT Sent -> (N bytes lost)"; continuation and connection lines are
// no messages.
LinesByClient shownLines(const std::string& text) {
  LinesByClient lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string client, direction, arrow, what;
    if (!(words >> client >> direction >> arrow >> what) || direction == "Conn" || arrow != "->") continue;
    lines[directionOf(client, direction)].push_back(what.starts_with("(") ? "lost " + what.substr(1)
                                                                          : what.substr(1, 4));
  }
  return lines;
}

struct TrafficCase {
  const char* name;
  std::vector<std::string> generatorOptions;
};

void PrintTo(const TrafficCase& c, std::ostream* out) { *out << c.name; }

class Interleaved : public ::testing::TestWithParam<TrafficCase> {};

TEST_P(Interleaved, EveryConnectionShowsEachMessageOnce) {
  const ScratchDirectory scratch;
  std::vector<std::string> options = GetParam().generatorOptions;
  for (const std::string& option :
       {std::string("-o"), (scratch / "capture").string(), std::string("--expect"), (scratch / "expect").string()}) {
    options.push_back(option);
  }
  ASSERT_EQ(runProgram({kGenerator, options}).status, "exit 0");
  const ChildResult shown = runProgram({kTrace, {"-t", "-r", scratch / "capture"}});
  EXPECT_EQ(shown.status, "exit 0");
  const LinesByClient expected = expectedLines(readFile(scratch / "expect"));
  // The losses are also counted below the output, on standard error.
  uint64_t lostBytes = 0;
  for (const auto& [direction, lines] : expected) {
    for (const std::string& line : lines) lostBytes += line.starts_with("lost ") ? std::stoull(line.substr(5)) : 0;
  }
  const EndOfRun end = splitEndOfRun(shown.errors);
  EXPECT_EQ(end.problems, "");
  EXPECT_NE(end.report.find("\n" + std::to_string(lostBytes) +
                            (lostBytes == 0 ? " bytes lost in 0 gaps\n" : " bytes lost in 1 gap\n")),
            std::string::npos)
      << end.report;
  const LinesByClient seen = shownLines(shown.output);
  EXPECT_EQ(seen.size(), expected.size());
  for (const auto& [client, lines] : expected) {
    const auto found = seen.find(client);
    ASSERT_NE(found, seen.end()) << client << " shows nothing";
    EXPECT_EQ(found->second, lines) << client;
  }
}

const std::vector<std::string> kEveryFault = {"--clients", "100",    "--split",  "--retransmit",
                                              "5",         "--swap", "1",        "--keepalive",
                                              "--ipv6",    "10",     "--midway", "--lose"};

std::vector<std::string> with(std::vector<std::string> options, std::initializer_list<std::string> more) {
  options.insert(options.end(), more);
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Captures, Interleaved,
    ::testing::Values(TrafficCase{"Clean", {"--clients", "100"}}, TrafficCase{"EveryFault", kEveryFault},
                      TrafficCase{"EveryFaultOtherSeed", with(kEveryFault, {"--seed", "7"})},
                      TrafficCase{"EveryFaultLinuxCookedPcapng",
                                  with(kEveryFault, {"--link", "sll", "--format", "pcapng", "--seed", "8"})},
                      TrafficCase{"HeavyRetransmission",
                                  {"--clients", "20", "--split", "--retransmit", "40", "--swap", "20", "--seed", "9"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vestrel::read
