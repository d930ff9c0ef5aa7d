// vestrel-trace live, as a new user runs it: a device by name, a filter
// expression, the frames saved with -w (to a file or down a pipe) and read
// back with -r, and the privileges given up once the device is open.
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "common/child_process.h"
#include "common/test_files.h"
#include "live_fixture.h"

namespace vestrel::live {
namespace {

constexpr Millis kStartTimeout{5000};
constexpr Millis kLinesTimeout{5000};
const std::string kBanner = "vestrel-trace: listening on lo, link-type EN10MB (Ethernet)\n";
const std::string kEndMarkLine = sentLine(0xEE, "SID_UNK0xEE");

// The messages as the shared stream shows them: each line of -t's output
// without its client end, the connections' own lines left out.
std::string withoutClients(const std::string& output) {
  const std::regex clientEnd(R"(127\.0\.0\.1:\d+ )");
  std::string messages;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, clientEnd, std::regex_constants::match_continuous)) {
      line = match.suffix();
      if (line.starts_with("Conn -> ")) continue;
    }
    messages += line + "\n";
  }
  return messages;
}

class TraceLiveTest : public PrivateNetworkTest {
 protected:
  void start(std::vector<std::string> options, const test::ChildSetup& setup = {}, const std::string& device = "lo") {
    ASSERT_TRUE(listener_.open());
    options.insert(options.begin(), {"-i", device});
    ASSERT_TRUE(trace_.start(options, setup, vestrelTraceBinary()));
    ASSERT_TRUE(trace_.waitForText(kBanner, kStartTimeout)) << trace_.output();
    ASSERT_EQ(trace_.output(), kBanner);
  }

  // A client's first byte names its protocol: 0x01, chat messages.
  ChatConnection connect() {
    ChatConnection chat = ChatConnection::open(listener_, [this] { EXPECT_TRUE(trace_.waitUntilIdle(kLinesTimeout)); });
    chat.clientSends(Bytes{0x01});
    return chat;
  }

  // A ping each way on one connection, then the end mark on another.
  void sendPingsAndEndMark() {
    ChatConnection chat = connect();
    chat.clientSends(ping(7));
    chat.serverSends(ping(8));
    ChatConnection last = connect();
    last.clientSends(endMark());
    EXPECT_TRUE(trace_.waitForText(kEndMarkLine, kLinesTimeout)) << trace_.output();
  }

  // The counts every run ends with, live with the kernel's, are cut off
  // the output here, so that the cases see the messages alone.
  ProcessResult stop() {
    ProcessResult result = trace_.stop(SIGINT);
    const std::regex report(
        R"(\d+ packets? captured\n\d+ packets? received by filter\n\d+ packets? dropped by kernel\n)"
        R"(\d+ messages? shown\n\d+ connections?\n(\d+ bytes? .*\n){3}$)");
    std::smatch found;
    EXPECT_TRUE(std::regex_search(result.output, found, report)) << result.output;
    if (!found.empty()) result.output.erase(static_cast<size_t>(found.position(0)));
    return result;
  }

  ChatListener listener_;
  VestrelProcess trace_;
  test::ScratchDirectory scratch_;
};

const std::string kPingLines = sentLine(0x25, "SID_PING", pingDetails(7)) + rcvdLine(0x25, "SID_PING", pingDetails(8));

// Each line in front: the time of day and the client end.
TEST_F(TraceLiveTest, DeviceByName) {
  start({});
  sendPingsAndEndMark();
  const ProcessResult result = stop();
  EXPECT_EQ(result.status, "exit 0");
  const std::regex prefix(R"(\d\d:\d\d:\d\d\.\d{6} (127\.0\.0\.1:\d+ .*))");
  std::string withoutTimes;
  std::istringstream lines(result.output.substr(kBanner.size()));
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, prefix)) << line;
    withoutTimes += match[1].str() + "\n";
  }
  EXPECT_EQ(withoutClients(withoutTimes), kPingLines + kEndMarkLine);
}

// The expression narrows the port filter: the server's frames stay out.
TEST_F(TraceLiveTest, FilterExpression) {
  start({"-t", "tcp", "dst", "port", "6112"});
  sendPingsAndEndMark();
  const ProcessResult result = stop();
  EXPECT_EQ(withoutClients(result.output), kBanner + sentLine(0x25, "SID_PING", pingDetails(7)) + kEndMarkLine);
}

TEST_F(TraceLiveTest, SavedFramesReadBackTheSame) {
  const std::string saved = scratch_.path() / "saved.pcap";
  start({"-w", saved});
  sendPingsAndEndMark();
  EXPECT_EQ(stop().status, "exit 0");
  const test::ChildResult read =
      test::ChildProcess::run(vestrelTraceBinary(), {"-t", "-r", saved}, "/dev/null", kLinesTimeout);
  EXPECT_EQ(read.status, "exit 0");
  EXPECT_EQ(withoutClients(read.output), kPingLines + kEndMarkLine);
  // Only the counts of the end of the run; no warning.
  EXPECT_EQ(read.errors.find("vestrel-trace:"), std::string::npos) << read.errors;
}

// -w -: standard output carries the frames and nothing else, so the pipe
// can be read as a capture; -U has each frame written as it comes.
TEST_F(TraceLiveTest, SavedFramesDownAPipe) {
  test::ChildProcess saver;
  ASSERT_TRUE(saver.start(vestrelTraceBinary(), {"-i", "lo", "-U", "-w", "-"}));
  ASSERT_TRUE(saver.waitForErrorText(kBanner, kStartTimeout)) << saver.errors();
  start({"-t"});  // a second capture, to know when the traffic has been seen
  sendPingsAndEndMark();
  const Bytes mark = endMark();
  EXPECT_TRUE(saver.waitForOutputText(std::string(mark.begin(), mark.end()), kLinesTimeout));
  const test::ChildResult saved = saver.stop(SIGINT, kLinesTimeout);
  EXPECT_EQ(saved.status, "exit 0");
  const std::string file = scratch_.path() / "piped.pcap";
  test::writeFile(file, saved.output);
  const test::ChildResult read = test::ChildProcess::run(vestrelTraceBinary(), {"-t", "-r", "-"}, file, kLinesTimeout);
  EXPECT_EQ(read.status, "exit 0") << read.errors;
  EXPECT_EQ(withoutClients(read.output), kPingLines + kEndMarkLine);
  stop();
}

// Each object on a line of its own, with the time and the connection;
// the opening is an object too.
TEST_F(TraceLiveTest, JsonLines) {
  start({"--json"});
  ChatConnection chat = connect();
  chat.clientSends(ping(7));
  chat.serverSends(ping(8));
  EXPECT_TRUE(trace_.waitForText("\"fields\":{\"ping_value\":8}}\n", kLinesTimeout)) << trace_.output();
  const std::string output = stop().output;
  const std::regex head(
      R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z","connection":\{"client":\{"address":"127\.0\.0\.1",)"
      R"("port":\d+\},"server":\{"address":"127\.0\.0\.1","port":6112\}\},)");
  std::vector<std::string> rests;  // each line after its time and connection
  std::istringstream lines(output.substr(kBanner.size()));
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(line, match, head, std::regex_constants::match_continuous)) << line;
    rests.push_back(match.suffix());
  }
  EXPECT_EQ(rests, (std::vector<std::string>{
                       R"("event":"opened","protocol_byte":1})",
                       R"("direction":"sent","id":37,"name":"SID_PING","length":8,"fields":{"ping_value":7}})",
                       R"("direction":"received","id":37,"name":"SID_PING","length":8,"fields":{"ping_value":8}})"}));
}

std::string statusLine(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(name + ":")) return line;
  }
  return {};
}

// Under sudo the capture goes on as the user who ran it, without
// capabilities, and the saved frames belong to that user.
TEST_F(TraceLiveTest, GivesUpPrivilegesOnceTheDeviceIsOpen) {
  test::ChildSetup setup;
  setup.environment = {{"SUDO_UID", "4321"}, {"SUDO_GID", "4322"}, {"SUDO_USER", std::nullopt}};
  std::filesystem::permissions(scratch_.path(), std::filesystem::perms::all);
  const std::string saved = scratch_.path() / "saved.pcap";
  start({"-t", "-w", saved}, setup);
  EXPECT_EQ(statusLine(trace_.pid(), "Uid"), "Uid:\t4321\t4321\t4321\t4321");
  EXPECT_EQ(statusLine(trace_.pid(), "CapEff"), "CapEff:\t0000000000000000");
  sendPingsAndEndMark();
  const ProcessResult result = stop();
  EXPECT_EQ(withoutClients(result.output), kBanner + kPingLines + kEndMarkLine);
  struct stat owner {};
  ASSERT_EQ(stat(saved.c_str(), &owner), 0);
  EXPECT_EQ(owner.st_uid, 4321U);
}

// -D numbers the devices and gives their state as tcpdump does; -i takes
// that number as well as the name.
TEST_F(TraceLiveTest, DeviceByTheNumberTheListGives) {
  const test::ChildResult list = test::ChildProcess::run(vestrelTraceBinary(), {"-D"}, "/dev/null", kLinesTimeout);
  ASSERT_EQ(list.status, "exit 0");
  const size_t lo = list.output.find(".lo [Up, Running, Loopback]\n");
  ASSERT_NE(lo, std::string::npos) << list.output;
  const size_t lineStart = list.output.rfind('\n', lo) + 1;  // npos + 1 is 0: the first line
  start({"-t"}, {}, list.output.substr(lineStart, lo - lineStart));
  sendPingsAndEndMark();
  EXPECT_EQ(withoutClients(stop().output), kBanner + kPingLines + kEndMarkLine);
}

// Without the right to capture: the library's reason, how to get the
// right, and a failing status.
// Nobody may not reach the build tree (a checkout under root's 0700 home):
// the child runs a copy from a directory anyone can enter.
TEST_F(TraceLiveTest, WithoutPermissionSaysHowToGetIt) {
  const test::ScratchDirectory scratch;
  namespace fs = std::filesystem;
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  fs::copy_file(vestrelTraceBinary(), scratch / "vestrel-trace");
  test::ChildSetup nobody;
  nobody.runAs = test::ChildSetup::User{65534, 65534};
  const test::ChildResult result =
      test::ChildProcess::run((scratch / "vestrel-trace").string(), {"-i", "lo"}, "/dev/null", kLinesTimeout, nobody);
  EXPECT_EQ(result.status, "exit 1");
  EXPECT_TRUE(result.errors.starts_with("vestrel-trace: lo: You don't have permission")) << result.errors;
  // The hint names the very file that was run.
  EXPECT_NE(
      result.errors.find("sudo setcap cap_net_raw,cap_net_admin+ep " + (scratch / "vestrel-trace").string() + "\n"),
      std::string::npos)
      << result.errors;
}

}  // namespace
}  // namespace vestrel::live
