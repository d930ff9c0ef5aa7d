// vestrel-read's command line: getopt rules, one file, every refusal named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/read_options.h"

namespace vestrel {
namespace {

struct ReadOptionsCase {
  const char* name;
  std::vector<std::string> arguments;  // after the program name
  ReadAction action;
  std::string fileName;
  bool showUnknown = false;
  bool fullStrings = false;
  std::string logFileName;
  std::string error;
};

void PrintTo(const ReadOptionsCase& c, std::ostream* out) { *out << c.name; }

ReadCommand scan(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "vestrel-read");
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return scanReadOptions(static_cast<int>(argv.size() - 1), argv.data());
}

class ReadOptions : public ::testing::TestWithParam<ReadOptionsCase> {};

TEST_P(ReadOptions, ScansLikeGetopt) {
  const ReadOptionsCase& c = GetParam();
  const ReadCommand command = scan(c.arguments);
  EXPECT_EQ(command.action, c.action);
  EXPECT_EQ(command.fileName, c.fileName);
  EXPECT_EQ(command.options.showUnknown, c.showUnknown);
  EXPECT_EQ(command.options.fullStrings, c.fullStrings);
  EXPECT_EQ(command.options.logFileName, c.logFileName);
  EXPECT_EQ(command.error, c.error);
  // The log is opened only once the capture file has been.
  EXPECT_EQ(command.options.logFile, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ReadOptions,
    ::testing::Values(
        ReadOptionsCase{"FileOnly", {"a.pcap"}, ReadAction::Read, "a.pcap"},
        ReadOptionsCase{"StandardInput", {"-"}, ReadAction::Read, "-"},
        ReadOptionsCase{
            "EveryOption", {"-u", "-s", "-l", "t.log", "a.pcap"}, ReadAction::Read, "a.pcap", true, true, "t.log"},
        ReadOptionsCase{"Grouped", {"-usl", "t.log", "a.pcap"}, ReadAction::Read, "a.pcap", true, true, "t.log"},
        ReadOptionsCase{"LogValueAttached", {"-lt.log", "a.pcap"}, ReadAction::Read, "a.pcap", false, false, "t.log"},
        ReadOptionsCase{"OptionsAfterFile", {"a.pcap", "-u"}, ReadAction::Read, "a.pcap", true},
        ReadOptionsCase{"DashDashEndsOptions", {"--", "-u"}, ReadAction::Read, "-u"},
        ReadOptionsCase{
            "LaterLogWins", {"-l", "a.log", "-l", "b.log", "f"}, ReadAction::Read, "f", false, false, "b.log"},
        ReadOptionsCase{"Help", {"-h"}, ReadAction::ShowUsage},
        ReadOptionsCase{"HelpBeforeBadOption", {"-h", "-x"}, ReadAction::ShowUsage},
        ReadOptionsCase{"Version", {"-v", "a.pcap"}, ReadAction::ShowVersion},
        ReadOptionsCase{"NoFile", {}, ReadAction::Fail, "", false, false, "", "no capture file given"},
        ReadOptionsCase{"OptionsButNoFile", {"-u"}, ReadAction::Fail, "", true, false, "", "no capture file given"},
        ReadOptionsCase{
            "TwoFiles", {"a", "b"}, ReadAction::Fail, "", false, false, "", "only one capture file can be read"},
        ReadOptionsCase{"UnknownOption", {"-x", "a"}, ReadAction::Fail, "", false, false, "", "unknown option -x"},
        ReadOptionsCase{
            "DeviceOptionIsNotHere", {"-i", "2", "a"}, ReadAction::Fail, "", false, false, "", "unknown option -i"},
        ReadOptionsCase{
            "LogWithoutValue", {"a.pcap", "-l"}, ReadAction::Fail, "", false, false, "", "option -l needs a value"}),
    [](const auto& info) { return std::string(info.param.name); });

// getopt keeps its place in globals; every scan must start afresh.
TEST(ReadOptionsScan, RepeatedScansAgree) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(scan({"-u", "x.pcap"}).fileName, "x.pcap");
    EXPECT_EQ(scan({"-q"}).error, "unknown option -q");
  }
}

}  // namespace
}  // namespace vestrel
