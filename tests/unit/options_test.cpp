#include "cli/options.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/devices.h"
#include "test_support.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

// Runs each case in a scratch directory so -l can create files freely.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(fs::current_path()) {
    char pattern[] = "/tmp/vestrel-options-XXXXXX";
    path_ = mkdtemp(pattern);
    fs::current_path(path_);
  }
  ~ScratchDirectory() {
    fs::current_path(previous_);
    fs::remove_all(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  fs::path previous_;
  fs::path path_;
};

struct ScanCase {
  const char* name;
  std::vector<const char*> arguments;  // without the program name
  Action action = Action::Capture;
  int32_t deviceNumber = 1;
  bool showUnknown = false;
  bool fullStrings = false;
  std::string printed;
  std::string logFileName;
  bool logOpen = false;
  std::vector<std::string> filesCreated;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }

class OptionScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(OptionScan, SetsOptionsAndStopsWhereItShould) {
  const ScanCase& c = GetParam();
  ScratchDirectory scratch;
  test::ConsoleCapture output;
  std::vector<const char*> argv{"vestrel"};
  argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());

  Options options;
  EXPECT_EQ(scanOptions(static_cast<int>(argv.size()), argv.data(), options), c.action);
  EXPECT_EQ(options.deviceNumber, c.deviceNumber);
  EXPECT_EQ(options.showUnknown, c.showUnknown);
  EXPECT_EQ(options.fullStrings, c.fullStrings);
  EXPECT_EQ(output.text(), c.printed);
  EXPECT_EQ(options.logFileName, c.logFileName);
  EXPECT_EQ(options.logFile != nullptr, c.logOpen);
  for (const std::string& file : c.filesCreated) {
    EXPECT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(fs::file_size(file), 0u) << file;
  }
}

const char* const kNoDirectory = "/nonexistent-vestrel-dir/x.log";

INSTANTIATE_TEST_SUITE_P(
    Rules, OptionScan,
    ::testing::Values(
        ScanCase{.name = "NoArguments", .arguments = {}},
        ScanCase{.name = "UpperCaseIsNotAnOption", .arguments = {"-U", "-S", "-D"}},
        ScanCase{.name = "DashIsOptional", .arguments = {"us"}, .showUnknown = true, .fullStrings = true},
        ScanCase{.name = "FlagThenVersion", .arguments = {"-uv"}, .action = Action::ShowVersion, .showUnknown = true},
        ScanCase{.name = "VersionStopsBeforeLaterLetters", .arguments = {"vu"}, .action = Action::ShowVersion},
        ScanCase{.name = "HelpIgnoresLaterArguments", .arguments = {"-h", "-u"}, .action = Action::ShowUsage},
        ScanCase{.name = "AnyWordWithDListsDevices", .arguments = {"dump"}, .action = Action::ListDevices},
        ScanCase{.name = "DigitsAndOtherCharactersPassedOver", .arguments = {"-9!x"}},
        ScanCase{.name = "DeviceInNextArgument", .arguments = {"-i", "3"}, .deviceNumber = 3},
        ScanCase{.name = "DeviceInSameArgument", .arguments = {"-i3"}, .deviceNumber = 3},
        ScanCase{.name = "DeviceMissingAtEnd", .arguments = {"-i"}, .deviceNumber = 0},
        ScanCase{.name = "DeviceZero", .arguments = {"-i", "0"}, .deviceNumber = 0},
        ScanCase{.name = "DeviceNegative", .arguments = {"-i", "-5"}, .deviceNumber = -5},
        ScanCase{.name = "ScanResumesAfterFirstValueCharacter",
                 .arguments = {"-i3u"},
                 .deviceNumber = 3,
                 .showUnknown = true},
        ScanCase{.name = "LetterRightAfterIIsTheValue", .arguments = {"-iu"}, .deviceNumber = 0},
        ScanCase{.name = "LaterValueDigitsPassedOver", .arguments = {"-i34"}, .deviceNumber = 34},
        ScanCase{.name = "LetterInsideValueStillActs",
                 .arguments = {"-i12d"},
                 .action = Action::ListDevices,
                 .deviceNumber = 12},
        ScanCase{.name = "ValueArgumentIsConsumedNotScanned", .arguments = {"-i", "-u"}, .deviceNumber = 0},
        ScanCase{.name = "ScanGoesOnAfterConsumedValue",
                 .arguments = {"-i", "4", "-s"},
                 .deviceNumber = 4,
                 .fullStrings = true},
        ScanCase{.name = "LeadingBlanksAndSign", .arguments = {"-i", " +7x"}, .deviceNumber = 7},
        ScanCase{.name = "HugeDeviceSaturates", .arguments = {"-i", "99999999999999"}, .deviceNumber = INT32_MAX},
        ScanCase{.name = "HugeNegativeSaturates", .arguments = {"-i-99999999999999"}, .deviceNumber = INT32_MIN},
        ScanCase{.name = "LogWithoutName", .arguments = {"-l"}, .printed = "Error: No logfile specified\n"},
        ScanCase{.name = "LogOpens",
                 .arguments = {"-l", "a.log"},
                 .logFileName = "a.log",
                 .logOpen = true,
                 .filesCreated = {"a.log"}},
        ScanCase{.name = "LogNameIsTakenWhateverItLooksLike",
                 .arguments = {"-l", "-u"},
                 .logFileName = "-u",
                 .logOpen = true,
                 .filesCreated = {"-u"}},
        ScanCase{.name = "LogThenHelpCreatesTheFile",
                 .arguments = {"-l", "x.txt", "-h"},
                 .action = Action::ShowUsage,
                 .logFileName = "x.txt",
                 .logOpen = true,
                 .filesCreated = {"x.txt"}},
        ScanCase{.name = "ValuesTakenInOrder",
                 .arguments = {"-li", "a.log", "5"},
                 .deviceNumber = 5,
                 .logFileName = "a.log",
                 .logOpen = true,
                 .filesCreated = {"a.log"}},
        ScanCase{.name = "LettersAfterLStillScanned",
                 .arguments = {"-lu", "a.log"},
                 .showUnknown = true,
                 .logFileName = "a.log",
                 .logOpen = true},
        ScanCase{.name = "LaterLogReplacesEarlier",
                 .arguments = {"-l", "a.log", "-l", "b.log"},
                 .logFileName = "b.log",
                 .logOpen = true,
                 .filesCreated = {"a.log", "b.log"}},
        ScanCase{.name = "LogOpenFails",
                 .arguments = {"-l", kNoDirectory},
                 .printed = std::string("Error: Unable to open file ") + kNoDirectory + " for logging.\n",
                 .logFileName = kNoDirectory},
        ScanCase{.name = "FailedLogClosesEarlierOne",
                 .arguments = {"-l", "a.log", "-l", kNoDirectory, "-u"},
                 .showUnknown = true,
                 .printed = std::string("Error: Unable to open file ") + kNoDirectory + " for logging.\n",
                 .logFileName = kNoDirectory,
                 .filesCreated = {"a.log"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NumberCase {
  const char* text;
  int32_t value;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const NumberCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class DeviceNumberText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(DeviceNumberText, ReadsLikeADecimalInteger) {
  EXPECT_EQ(parseDeviceNumber(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Forms, DeviceNumberText,
                         ::testing::Values(NumberCase{"", 0}, NumberCase{"abc", 0}, NumberCase{"-", 0},
                                           NumberCase{"12", 12}, NumberCase{"\t\n 12", 12}, NumberCase{"12abc", 12},
                                           NumberCase{"+3", 3}, NumberCase{"-3", -3}, NumberCase{"--3", 0},
                                           NumberCase{" - 3", 0}, NumberCase{"2147483647", INT32_MAX},
                                           NumberCase{"2147483648", INT32_MAX}, NumberCase{"-2147483648", INT32_MIN},
                                           NumberCase{"-2147483649", INT32_MIN},
                                           NumberCase{"000000000000000000000000009", 9}));

struct ChoiceCase {
  int32_t deviceNumber;
  size_t listSize;
  std::optional<size_t> position;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.deviceNumber << " of " << c.listSize; }

class DeviceChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DeviceChoice, PicksByNumber) {
  EXPECT_EQ(chooseDevice(GetParam().deviceNumber, GetParam().listSize), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(Numbers, DeviceChoice,
                         ::testing::Values(ChoiceCase{1, 3, 0}, ChoiceCase{0, 3, 0}, ChoiceCase{-5, 3, 0},
                                           ChoiceCase{INT32_MIN, 3, 0}, ChoiceCase{2, 3, 1}, ChoiceCase{3, 3, 2},
                                           ChoiceCase{4, 3, std::nullopt}, ChoiceCase{INT32_MAX, 3, std::nullopt},
                                           ChoiceCase{1, 0, std::nullopt}));

TEST(DeviceDisplayName, DescriptionWhenPresentElseName) {
  char name[] = "eth0";
  char description[] = "Ethernet adapter";
  pcap_if device{};
  device.name = name;
  EXPECT_STREQ(displayName(device), "eth0");
  device.description = description;
  EXPECT_STREQ(displayName(device), "Ethernet adapter");
  char hostile[] = "eth\x1B[2J\xC2\x9B";
  device.description = hostile;
  EXPECT_STREQ(displayName(device), "eth\\x1B[2J\\xC2\\x9B");
}

TEST(UsageText, NamesTheProgramAndEveryOption) {
  test::ConsoleCapture output;
  printUsage("./vestrel");
  EXPECT_EQ(output.text(),
            "Usage: ./vestrel [OPTIONS]\n\n"
            "Valid Options:\n"
            "\t-h:\tDisplays this screen and quits.\n"
            "\t-v:\tDisplays version information and quits.\n"
            "\t-u:\tDisplay the contents of unknown fields in packet details\n"
            "\t-s:\tAlways display the complete contents of string fields\n"
            "\t-d:\tList devices from which packets may be captured\n"
            "\t-i <number>:\tSpecify a device to capture from. Defaults to 1.\n"
            "\t-l <logfile>:\tLog captured traffic to the specified file\n");
}

TEST(VersionText, StartsWithTheVersionLine) {
  test::ConsoleCapture output;
  printVersion();
  const std::string text = output.text();
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Vestrel version 1.0\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << "version line and one credit line";
}

}  // namespace
}  // namespace vestrel
