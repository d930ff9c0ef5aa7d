// The vestrel-gen program itself: what it writes where, and how it refuses
// bad requests.
#include <fcntl.h>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capture_reading.h"
#include "connection_streams.h"
#include "message_stream.h"
#include "protocol_messages.h"

namespace vestrel::wire {
namespace {

struct GeneratorRun {
  int exitCode = -1;
  Bytes output;
  std::string errors;
};

// A directory of its own for each test's files.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vestrel-gen-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string file(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs vestrel-gen with standard output on outputFd (or a file it then reads)
// and standard error in a file.
GeneratorRun runGenerator(const std::vector<std::string>& arguments, int outputFd = -1) {
  ScratchDirectory scratch;
  const std::string outputPath = scratch.file("stdout");
  const std::string errorPath = scratch.file("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> words{VESTREL_GEN};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& argument : words) argv.push_back(argument.data());
  argv.push_back(nullptr);

  GeneratorRun run;
  pid_t child = 0;
  const int spawned = posix_spawn(&child, VESTREL_GEN, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " VESTREL_GEN;
    return run;
  }
  int status = 0;
  waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (outputFd < 0) run.output = fileBytes(outputPath.c_str());
  run.errors = asText(fileBytes(errorPath.c_str()));
  return run;
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* error;  // the line on standard error
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class RefusalTest : public testing::TestWithParam<RefusalCase> {};

// A bad request writes nothing, says why, shows the usage and exits 1.
TEST_P(RefusalTest, SaysWhyAndShowsUsage) {
  const GeneratorRun run = runGenerator(GetParam().arguments);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.output.empty());
  EXPECT_EQ(run.errors.substr(0, run.errors.find('\n') + 1), std::string("vestrel-gen: ") + GetParam().error + "\n");
  EXPECT_NE(run.errors.find("\nUsage: vestrel-gen "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    BadRequests, RefusalTest,
    testing::Values(
        RefusalCase{"UnknownLink",
                    {"--link", "token-ring"},
                    "unknown link type 'token-ring' (choose from ethernet, vlan, qinq, sll, sll2, null, loop, raw, "
                    "ipv4)"},
        RefusalCase{"UnknownFormat", {"--format", "pcapx"}, "unknown format 'pcapx' (choose pcap or pcapng)"},
        RefusalCase{"LinkWithoutValue", {"--link"}, "option '--link' needs a value"},
        RefusalCase{"OutputWithoutValue", {"--format", "pcap", "-o"}, "option '-o' needs a value"},
        RefusalCase{"UnknownOption", {"--loud"}, "unknown option '--loud'"},
        RefusalCase{"ZeroMessages", {"--messages", "0"}, "--messages needs a count from 1 to 50000000"},
        RefusalCase{"CountWithTrailingText", {"--messages", "12x"}, "--messages needs a count from 1 to 50000000"},
        RefusalCase{"CountTooLarge", {"--messages", "50000001"}, "--messages needs a count from 1 to 50000000"},
        RefusalCase{"PackedAlone", {"--packed"}, "--packed goes with --messages"},
        RefusalCase{"FaultWithoutClients", {"--split"}, "--split goes with --clients"},
        RefusalCase{
            "ClientsAndMessages", {"--clients", "2", "--messages", "5"}, "--clients and --messages do not go together"},
        RefusalCase{"MoreIpv6ThanClients",
                    {"--clients", "3", "--ipv6", "4"},
                    "--ipv6 asks for more IPv6 clients than --clients gives"},
        RefusalCase{"Ipv6OnAnIpv4Link",
                    {"--link", "ipv4", "--clients", "2", "--ipv6", "1"},
                    "link type ipv4 carries no IPv6 packets; choose another --link"},
        RefusalCase{
            "ShareOver100", {"--clients", "2", "--retransmit", "101"}, "--retransmit needs a share from 0 to 100"},
        RefusalCase{"LossWithOneMessage",
                    {"--clients", "2", "--lose", "--messages-per-client", "1"},
                    "--lose needs --messages-per-client of 2 or more"},
        RefusalCase{"MidwayAndLossOnOneClient",
                    {"--clients", "1", "--midway", "--lose"},
                    "--midway and --lose need two clients or more"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Generator, HelpGoesToStandardOutput) {
  const GeneratorRun run = runGenerator({"-h"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(asText(run.output).rfind("Usage: vestrel-gen [--link NAME]", 0), 0U);
  EXPECT_TRUE(run.errors.empty());
}

TEST(Generator, WritesTheCommittedSampleByDefault) {
  const Bytes sample = fileBytes(VESTREL_SAMPLE_CAPTURE);
  const GeneratorRun toOutput = runGenerator({});
  EXPECT_EQ(toOutput.exitCode, 0) << toOutput.errors;
  EXPECT_TRUE(toOutput.output == sample);

  ScratchDirectory scratch;
  const std::string path = scratch.file("sample.pcap");
  const GeneratorRun toFile = runGenerator({"-o", path});
  EXPECT_EQ(toFile.exitCode, 0) << toFile.errors;
  EXPECT_TRUE(toFile.output.empty());
  EXPECT_TRUE(fileBytes(path.c_str()) == sample);
}

TEST(Generator, WritesTheLinkAndFormatAskedFor) {
  ScratchDirectory scratch;
  const std::string path = scratch.file("traffic.pcapng");
  const GeneratorRun run =
      runGenerator({"--format", "pcapng", "--link", "sll2", "--messages", "25", "--packed", "-o", path});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Bytes file = fileBytes(path.c_str());
  ASSERT_GE(file.size(), 4U);
  EXPECT_EQ(head(file, 4), hexBytes("0A0D0D0A")) << "a pcapng section header";
  const CaptureFile capture = readCapture(path.c_str());
  EXPECT_EQ(capture.datalink, DLT_LINUX_SLL2);
  EXPECT_GT(capture.frames.size(), 10U);
}

// A file descriptor closed when the test leaves, however it leaves.
struct Descriptor {
  explicit Descriptor(int opened) : fd(opened) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  const int fd;
};

// Binary on a terminal is refused; a pseudo-terminal stands in for one.
TEST(Generator, RefusesToWriteToATerminal) {
  const Descriptor master(posix_openpt(O_RDWR | O_NOCTTY));
  ASSERT_GE(master.fd, 0);
  ASSERT_EQ(grantpt(master.fd), 0);
  ASSERT_EQ(unlockpt(master.fd), 0);
  const char* terminalName = ptsname(master.fd);
  ASSERT_NE(terminalName, nullptr);
  const Descriptor terminal(open(terminalName, O_RDWR | O_NOCTTY));
  ASSERT_GE(terminal.fd, 0);
  const GeneratorRun run = runGenerator({}, terminal.fd);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errors,
            "vestrel-gen: will not write a binary capture to a terminal; use -o FILE or redirect the output\n");
}

TEST(Generator, ReportsFilesItCannotWrite) {
  const GeneratorRun missingDirectory = runGenerator({"-o", "/nonexistent-vestrel-dir/x.pcap"});
  EXPECT_EQ(missingDirectory.exitCode, 1);
  EXPECT_EQ(missingDirectory.errors,
            "vestrel-gen: cannot create /nonexistent-vestrel-dir/x.pcap: No such file or directory\n");

  const GeneratorRun fullDevice = runGenerator({"-o", "/dev/full"});
  EXPECT_EQ(fullDevice.exitCode, 1);
  EXPECT_EQ(fullDevice.errors, "vestrel-gen: cannot write /dev/full: No space left on device\n");
}

// Many clients with every fault on, small enough to check line by line.
const std::vector<std::string> kEveryFault = {
    "--clients", "12", "--messages-per-client", "8",        "--ipv6", "3",      "--split", "--retransmit", "10",
    "--swap",    "10", "--keepalive",           "--midway", "--lose", "--seed", "7"};

struct GeneratedFiles {
  Bytes capture;
  std::string expectation;
};

GeneratedFiles generate(std::vector<std::string> arguments) {
  ScratchDirectory scratch;
  const std::string capturePath = scratch.file("clients.pcap");
  const std::string expectPath = scratch.file("clients.expect");
  arguments.insert(arguments.end(), {"-o", capturePath, "--expect", expectPath});
  const GeneratorRun run = runGenerator(arguments);
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  return {fileBytes(capturePath.c_str()), asText(fileBytes(expectPath.c_str()))};
}

// The expectation file read back: each connection's lines together, split
// by direction ("lost" lines by the direction they name).
ReassembledCapture readExpectation(const std::string& text) {
  ReassembledCapture expectation;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string client;
    std::string direction;
    words >> client >> direction;
    if (direction == "lost") words >> direction;
    if (expectation.clients.empty() || expectation.clients.back() != client) {
      EXPECT_FALSE(expectation.lines.contains(client)) << client << "'s lines are not all together";
      expectation.clients.push_back(client);
    }
    expectation.lines[client][direction == "Sent"].push_back(line);
  }
  return expectation;
}

// What the capture holds besides plain data in order, counted the way a
// reader of the capture sees it.
struct FaultsSeen {
  size_t retransmitted = 0;  // data again at a sequence number already seen
  size_t reordered = 0;      // new data behind data further on
  size_t keepAlives = 0;     // one byte without PSH
  size_t cutMessages = 0;    // data that starts inside a message
  std::set<std::string> withoutHandshake;
};

FaultsSeen faultsIn(const std::vector<TcpSegmentSeen>& segments) {
  FaultsSeen faults;
  std::set<std::string> synSeen;
  std::set<std::tuple<std::string, uint32_t, Bytes>> dataSeen;
  std::map<std::string, uint32_t> furthest;
  for (const TcpSegmentSeen& segment : segments) {
    const std::string direction = clientOf(segment) + (segment.destinationPort == kChatPort ? " sent" : " rcvd");
    if ((segment.flags & kSyn) != 0) synSeen.insert(clientOf(segment));
    if (segment.payload.empty()) continue;
    if ((segment.flags & kPush) == 0) {
      faults.keepAlives += segment.payload.size() == 1 ? 1 : 0;
      continue;
    }
    if (!synSeen.contains(clientOf(segment))) faults.withoutHandshake.insert(clientOf(segment));
    if (!dataSeen.insert({direction, segment.sequence, segment.payload}).second) {
      ++faults.retransmitted;
      continue;
    }
    const auto [last, first] = furthest.try_emplace(direction, segment.sequence);
    if (!first && static_cast<int32_t>(segment.sequence - last->second) < 0) ++faults.reordered;
    if (first || static_cast<int32_t>(segment.sequence - last->second) > 0) last->second = segment.sequence;
    faults.cutMessages += segment.payload[0] != 0xFF && segment.payload != protocolByte() ? 1 : 0;
  }
  return faults;
}

// The expectation must be what a plain reassembly of the capture finds,
// connection by connection and direction by direction, and the capture
// must hold every fault asked for.
TEST(InterleavedClients, ExpectationAgreesWithTheCapture) {
  std::vector<std::string> arguments = kEveryFault;
  arguments.insert(arguments.end(), {"--link", "sll2", "--format", "pcapng"});
  const GeneratedFiles files = generate(arguments);
  const std::vector<TcpSegmentSeen> segments = tcpSegments(readCapture(files.capture), LinkType::LinuxCooked2);
  for (const TcpSegmentSeen& segment : segments) ASSERT_TRUE(segment.ipChecksumGood && segment.tcpChecksumGood);

  const ReassembledCapture reassembled = reassembleConnections(segments);
  EXPECT_EQ(reassembled.problems, std::vector<std::string>());
  const ReassembledCapture expectation = readExpectation(files.expectation);
  EXPECT_EQ(expectation.clients, reassembled.clients);
  EXPECT_EQ(expectation.lines, reassembled.lines);

  ASSERT_EQ(reassembled.clients.size(), 12U);
  const auto ipv6Clients = std::count_if(reassembled.clients.begin(), reassembled.clients.end(),
                                         [](const std::string& client) { return client[0] == '['; });
  EXPECT_EQ(ipv6Clients, 3);
  EXPECT_TRUE(reassembled.lines.contains("[::1]:40011"));
  size_t losses = 0;
  for (size_t at = files.expectation.find(" lost "); at != std::string::npos;
       at = files.expectation.find(" lost ", at + 1)) {
    ++losses;
  }
  EXPECT_EQ(losses, 1U);
  const FaultsSeen faults = faultsIn(segments);
  EXPECT_GT(faults.retransmitted, 0U);
  EXPECT_GT(faults.reordered, 0U);
  EXPECT_GT(faults.keepAlives, 0U);
  EXPECT_GT(faults.cutMessages, 0U);
  EXPECT_EQ(faults.withoutHandshake.size(), 1U);
}

TEST(InterleavedClients, TheSeedMakesTheSameBytes) {
  const GeneratedFiles first = generate(kEveryFault);
  const GeneratedFiles again = generate(kEveryFault);
  EXPECT_TRUE(first.capture == again.capture);
  EXPECT_EQ(first.expectation, again.expectation);
  std::vector<std::string> otherSeed = kEveryFault;
  otherSeed.back() = "8";
  EXPECT_FALSE(generate(otherSeed).capture == first.capture);
}

}  // namespace
}  // namespace vestrel::wire
