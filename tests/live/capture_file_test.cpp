// The same traffic seen live and read from files: while the program captures
// the whole session on lo, tcpdump records it on lo (Ethernet frames) and on
// the any device (Linux cooked v2 frames). Given each file and the options the
// live program had, vestrel-trace prints exactly what the live program printed
// after its banner, says nothing on standard error, and writes the same log.
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "private_network.h"
#include "whole_session.h"

namespace vestrel::live {
namespace {

namespace fs = std::filesystem;

constexpr Millis kRecorderStartTimeout{5000};
constexpr Millis kRecordingTimeout{5000};
constexpr Millis kRecordingPollInterval{10};
constexpr Millis kReadTimeout{10000};

// Link types in a pcap file's header.
constexpr uint32_t kLinkEthernet = 1;
constexpr uint32_t kLinkLinuxCookedV2 = 276;

// The link type of a pcap file (either byte order, micro- or nanosecond
// times), or nothing for anything else.
std::optional<uint32_t> pcapLinkType(const std::string& file) {
  if (file.size() < 24) return std::nullopt;
  const auto word = [&file](size_t at, bool bigEndian) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
      const auto octet = static_cast<uint8_t>(file[at + (bigEndian ? i : 3 - i)]);
      value = value << 8 | octet;
    }
    return value;
  };
  for (const bool bigEndian : {false, true}) {
    const uint32_t magic = word(0, bigEndian);
    if (magic == 0xA1B2C3D4 || magic == 0xA1B23C4D) return word(20, bigEndian);
  }
  return std::nullopt;
}

// A tcpdump writing what it captures on one device to a file.
struct Recorder {
  std::string device;  // as tcpdump names it
  uint32_t linkType;   // what tcpdump 4.99 writes for that device
  fs::path file;
  ChildProcess process;
};

class CaptureFileTest : public WholeSessionTest {
 protected:
  void SetUp() override {
    WholeSessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const std::optional<std::string> tcpdump = findProgram("tcpdump");
    if (!tcpdump) {
      if (liveCaptureRequired()) {
        FAIL() << "VESTREL_REQUIRE_LIVE=1 but tcpdump is not installed (scripts/install-deps.sh installs it)";
      }
      GTEST_SKIP() << "recording capture files needs tcpdump, which is not installed";
    }
    for (Recorder& recorder : recorders_) {
      startRecording(*tcpdump, recorder);
      if (HasFatalFailure()) return;
    }
  }

  // Stops each recorder once its file holds the end mark, and checks it
  // recorded every frame in the link type expected.
  void finishRecordings();

  // Runs vestrel-trace on file ("-": standard input, from input) with the
  // live program's options, and compares with what the live program did.
  void expectReadAsLive(const std::string& file, const fs::path& input = "/dev/null");

  Recorder recorders_[2] = {
      {"lo", kLinkEthernet, scratch_.path() / "lo.pcap", {}},
      {"any", kLinkLinuxCookedV2, scratch_.path() / "any.pcap", {}},
  };

 private:
  void startRecording(const std::string& tcpdump, Recorder& recorder);

  int reads_ = 0;
};

void CaptureFileTest::startRecording(const std::string& tcpdump, Recorder& recorder) {
  // -U writes each frame out as it comes, so the file can be watched for the
  // end mark; -Z root keeps tcpdump from giving up root, since builds differ
  // in whether they can still write to the root-only scratch directory after;
  // -B gives it a 32 MB buffer, like the program's, so no burst outruns it.
  const std::vector<std::string> arguments{
      "-i", recorder.device, "-w",           recorder.file.string(), "-U", "--immediate-mode", "-Z", "root", "-n",
      "-B", "32768",         "tcp port 6112"};
  ASSERT_TRUE(recorder.process.start(tcpdump, arguments)) << "cannot start " << tcpdump;
  // tcpdump says so once its capture is open and filtered: traffic sent from
  // then on is recorded.
  ASSERT_TRUE(recorder.process.waitForErrorText("listening on", kRecorderStartTimeout))
      << "tcpdump on " << recorder.device << " never started listening; it said: " << recorder.process.errors();
}

void CaptureFileTest::finishRecordings() {
  const Bytes mark = endMark();
  const std::string markText(mark.begin(), mark.end());
  for (Recorder& recorder : recorders_) {
    SCOPED_TRACE("tcpdump on " + recorder.device);
    const Deadline deadline(kRecordingTimeout);
    while (readFile(recorder.file).find(markText) == std::string::npos && !deadline.passed()) {
      std::this_thread::sleep_for(kRecordingPollInterval);
    }
    const ChildResult result = recorder.process.stop(SIGINT, kRecordingTimeout);
    EXPECT_EQ(result.status, "exit 0") << result.errors;
    // Its closing count: a frame the kernel dropped is missing from the file.
    EXPECT_NE(result.errors.find("\n0 packets dropped by kernel"), std::string::npos) << result.errors;
    const std::string recorded = readFile(recorder.file);
    EXPECT_NE(recorded.find(markText), std::string::npos) << "the file never got the end mark";
    EXPECT_EQ(pcapLinkType(recorded), recorder.linkType);
  }
}

void CaptureFileTest::expectReadAsLive(const std::string& file, const fs::path& input) {
  SCOPED_TRACE("vestrel-trace " + file + (file == "-" ? " < " + input.string() : std::string()));
  const std::string& live = vestrel_.output();
  ASSERT_EQ(live.substr(0, banner().size()), banner());
  const fs::path logPath = scratch_.path() / ("read-" + std::to_string(++reads_) + ".log");
  // The live program's letters in vestrel-trace's words: -u is the same,
  // -s keeps texts whole, -l names the log.
  std::vector<std::string> arguments;
  for (const std::string& option : GetParam().options) arguments.push_back(option == "-s" ? "--whole-texts" : option);
  if (GetParam().log) {
    arguments.push_back("--log");
    arguments.push_back(logPath.string());
  }
  // The live program's one shared stream, for a comparison byte for byte.
  arguments.push_back("--single-stream");
  arguments.push_back("-r");
  arguments.push_back(file);

  const ChildResult result = ChildProcess::run(vestrelTraceBinary(), arguments, input, kReadTimeout);
  EXPECT_EQ(result.output, live.substr(banner().size()));
  // Only the counts of the end of the run; no warning.
  EXPECT_EQ(result.errors.find("vestrel-trace:"), std::string::npos) << result.errors;
  EXPECT_EQ(result.status, "exit 0");
  if (GetParam().log) {
    EXPECT_EQ(readFile(logPath), readFile(logPath_)) << "the logs differ";
  }
}

TEST_P(CaptureFileTest, ReaderShowsTheFilesAsTheLiveCaptureShowedTheTraffic) {
  sendWholeSession();
  expectWholeSession();
  finishRecordings();
  for (const Recorder& recorder : recorders_) expectReadAsLive(recorder.file.string());
  expectReadAsLive("-", recorders_[1].file);
}

INSTANTIATE_TEST_SUITE_P(Options, CaptureFileTest, testing::ValuesIn(sessionOptionSets()), optionSetName);

}  // namespace
}  // namespace vestrel::live
