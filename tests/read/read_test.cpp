// vestrel-trace, the real binary, on capture files: the sample session against
// its reviewed output, the same session in every link layer and file format,
// standard input, and every way a file, an option or an output can fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "read/run_program.h"

namespace vestrel::read {
namespace {

const std::string kReader = VESTREL_TRACE_BINARY;
const std::string kVestrel = VESTREL_BINARY;
const std::string kGenerator = VESTREL_GEN_BINARY;
const std::filesystem::path kSample = VESTREL_SAMPLE_CAPTURE;
const std::filesystem::path kGolden = VESTREL_GOLDEN_DIR;

const std::string kUsageHint =
    "Usage: vestrel-trace [-DhlnpqUvVxX] [-t...] [-B KiB] [-c COUNT] [-C MB] [-G SECONDS] [-i DEVICE | -r FILE]\n"
    "       [-s SNAPLEN] [-w FILE] [-W COUNT] [-Y EXPRESSION] [-Z USER] [--port PORT]... [--log FILE]\n"
    "       [--json] [--stats] [--single-stream] [--whole-texts] [--reassembly-memory SIZE] [EXPRESSION]\n"
    "Try 'vestrel-trace --help' for more.\n";

// What every run of the whole sample ends with on standard error.
const std::string kWholeSampleReport =
    "66 packets captured\n56 messages shown\n2 connections\n0 bytes lost in 0 gaps\n"
    "0 bytes skipped looking for a message header\n0 bytes left incomplete in 0 messages\n";

ChildResult readCapture(std::vector<std::string> arguments, std::optional<std::filesystem::path> input = {}) {
  return runProgram({kReader, std::move(arguments), std::move(input)});
}

std::string golden(const std::string& name) { return readFile(kGolden / name); }

// Nothing on standard error but the counts every run ends with.
void expectClean(const ChildResult& result) {
  EXPECT_EQ(result.status, "exit 0");
  EXPECT_EQ(splitEndOfRun(result.errors).problems, "");
}

// The sample's console and log, as reviewed line by line against the
// session the generator writes.
TEST(SampleSession, PrintsTheReviewedOutput) {
  const ChildResult result = readCapture({"-r", kSample});
  expectClean(result);
  EXPECT_EQ(result.output, golden("chat-session.txt"));
}

TEST(SampleSession, WithEveryOptionPrintsTheReviewedOutputAndLog) {
  const ScratchDirectory scratch;
  const ChildResult result = readCapture({"-v", "--log", scratch / "session.log", "-r", kSample});
  expectClean(result);
  EXPECT_EQ(result.output, golden("chat-session-full.txt"));
  EXPECT_EQ(readFile(scratch / "session.log"), golden("chat-session.log"));
}

// The README shows an excerpt of the sample's output; it must stay real.
TEST(SampleSession, ReadmeExcerptIsRealOutput) {
  const std::string readme = readFile(VESTREL_README);
  const std::string opening =
      "Real output of `TZ=UTC build/vestrel-trace -r samples/chat-session.pcap` (an excerpt):\n\n```\n";
  const size_t start = readme.find(opening);
  ASSERT_NE(start, std::string::npos);
  const size_t from = start + opening.size();
  const size_t end = readme.find("```", from);
  ASSERT_NE(end, std::string::npos);
  const std::string excerpt = readme.substr(from, end - from);
  EXPECT_GT(std::count(excerpt.begin(), excerpt.end(), '\n'), 20);
  EXPECT_NE(golden("chat-session.txt").find(excerpt), std::string::npos) << excerpt;
}

// The shared stream is the classic monitor's output, byte for byte.
TEST(SampleSession, OneSharedStreamPrintsTheClassicOutput) {
  const ChildResult result = readCapture({"--single-stream", "-r", kSample});
  expectClean(result);
  EXPECT_EQ(result.output, golden("chat-session-single-stream.txt"));
}

// Two real sessions, every message of the protocol they hold, with -u so
// the fields shown only with it are there too; reviewed line by line.
class RealSession : public ::testing::TestWithParam<const char*> {};

TEST_P(RealSession, PrintsTheReviewedOutput) {
  const std::string name = GetParam();
  const ChildResult result = readCapture({"-u", "-r", std::string(VESTREL_SAMPLES_DIR) + "/" + name + ".pcap"});
  expectClean(result);
  EXPECT_EQ(result.output, golden(name + ".txt"));
}

INSTANTIATE_TEST_SUITE_P(Captures, RealSession, ::testing::Values("real-legacy", "real-games"),
                         [](const auto& info) { return std::string(info.param).substr(5); });

TEST(SampleSession, StandardInputReadsTheSame) {
  const ChildResult result = readCapture({"-r", "-"}, kSample);
  expectClean(result);
  EXPECT_EQ(result.output, golden("chat-session.txt"));
}

// The generator writes the sample session in each link layer and format;
// every one must decode to the very same console and log.
struct Encoding {
  const char* link;
  const char* format;
};

class EveryLinkLayer : public ::testing::TestWithParam<Encoding> {};

TEST_P(EveryLinkLayer, DecodesToTheSameOutputAndLog) {
  const ScratchDirectory scratch;
  const auto capture = scratch / "session";
  const ChildResult generated =
      runProgram({kGenerator, {"--link", GetParam().link, "--format", GetParam().format, "-o", capture}});
  ASSERT_EQ(generated.status, "exit 0") << generated.errors;

  const ChildResult plain = readCapture({"-r", capture});
  expectClean(plain);
  EXPECT_EQ(plain.output, golden("chat-session.txt"));
  const ChildResult full = readCapture({"--unknown", "--log", scratch / "log", "-r", capture});
  expectClean(full);
  EXPECT_EQ(full.output, golden("chat-session-full.txt"));
  EXPECT_EQ(readFile(scratch / "log"), golden("chat-session.log"));
}

std::vector<Encoding> everyEncoding() {
  std::vector<Encoding> encodings;
  for (const char* link : {"ethernet", "vlan", "qinq", "sll", "sll2", "null", "loop", "raw", "ipv4"}) {
    for (const char* format : {"pcap", "pcapng"}) encodings.push_back({link, format});
  }
  return encodings;
}

INSTANTIATE_TEST_SUITE_P(Encodings, EveryLinkLayer, ::testing::ValuesIn(everyEncoding()),
                         [](const auto& info) { return std::string(info.param.link) + "_" + info.param.format; });

// Where each record of a classic little-endian pcap file ends.
constexpr size_t kPcapFileHeaderBytes = 24;
constexpr size_t kPcapRecordHeaderBytes = 16;

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
  return value;
}

void putLe32(std::string& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::vector<size_t> recordStarts(const std::string& file) {
  std::vector<size_t> starts;
  for (size_t at = kPcapFileHeaderBytes; at + kPcapRecordHeaderBytes <= file.size();
       at += kPcapRecordHeaderBytes + le32(file, at + 8)) {
    starts.push_back(at);
  }
  return starts;
}

// A file that ends inside a record prints every message of the records
// before it, then reports the truncation.
TEST(DamagedFile, EndingInsideARecordPrintsWhatCameBefore) {
  const std::string sample = readFile(kSample);
  const std::vector<size_t> starts = recordStarts(sample);
  ASSERT_GT(starts.size(), 40U);
  const ScratchDirectory scratch;
  for (const size_t record : {size_t{20}, starts.size() / 2, starts.size() - 1}) {
    for (const size_t extra : {size_t{5}, kPcapRecordHeaderBytes + 3}) {
      writeFile(scratch / "whole", sample.substr(0, starts[record]));
      writeFile(scratch / "cut", sample.substr(0, starts[record] + extra));
      const ChildResult whole = readCapture({"-r", scratch / "whole"});
      const ChildResult cut = readCapture({"-r", scratch / "cut"});
      expectClean(whole);
      EXPECT_EQ(cut.status, "exit 1");
      EXPECT_EQ(cut.output, whole.output) << "record " << record << " + " << extra;
      const std::string problems = splitEndOfRun(cut.errors).problems;
      EXPECT_TRUE(problems.starts_with("vestrel-trace: " + (scratch / "cut").string() + ": truncated dump file"))
          << cut.errors;
      EXPECT_EQ(std::count(problems.begin(), problems.end(), '\n'), 1) << cut.errors;
    }
  }
}

TEST(DamagedFile, TruncatedPcapngIsReportedToo) {
  const ScratchDirectory scratch;
  ASSERT_EQ(runProgram({kGenerator, {"--format", "pcapng", "-o", scratch / "ng"}}).status, "exit 0");
  const std::string whole = readFile(scratch / "ng");
  writeFile(scratch / "cut", whole.substr(0, whole.size() - 7));
  const ChildResult cut = readCapture({"-r", scratch / "cut"});
  EXPECT_EQ(cut.status, "exit 1");
  EXPECT_TRUE(cut.errors.starts_with("vestrel-trace: " + (scratch / "cut").string() + ": ")) << cut.errors;
  // Everything before the last record is printed.
  const std::string expected = golden("chat-session.txt");
  EXPECT_FALSE(cut.output.empty());
  EXPECT_TRUE(expected.starts_with(cut.output));
}

// A short snapshot length leaves holes in the stream: said once, at the end.
TEST(DamagedFile, SegmentsCutBySnapshotLengthAreReported) {
  std::string sample = readFile(kSample);
  // Cut the payload of the largest record short, keeping its true length.
  size_t largest = 0;
  for (const size_t start : recordStarts(sample)) {
    if (largest == 0 || le32(sample, start + 8) > le32(sample, largest + 8)) largest = start;
  }
  const uint32_t captured = le32(sample, largest + 8);
  constexpr uint32_t kKept = 70;
  ASSERT_GT(captured, kKept);
  putLe32(sample, largest + 8, kKept);
  sample.erase(largest + kPcapRecordHeaderBytes + kKept, captured - kKept);
  const ScratchDirectory scratch;
  writeFile(scratch / "cut", sample);
  const ChildResult result = readCapture({"-r", scratch / "cut"});
  EXPECT_EQ(result.status, "exit 0");
  // The message cut shows as incomplete, the rest of the segment as lost
  // once the receiver acknowledges it.
  EXPECT_EQ(result.errors, "vestrel-trace: " + (scratch / "cut").string() +
                               ": warning: 1 segment(s) of the chat ports were cut short by the capture's snapshot "
                               "length; the messages in them are incomplete\n"
                               "66 packets captured\n50 messages shown\n2 connections\n261 bytes lost in 1 gap\n"
                               "0 bytes skipped looking for a message header\n"
                               "16 bytes left incomplete in 1 message\n");
  EXPECT_FALSE(result.output.empty());
}

// Every refusal: a clear message on standard error, nothing on standard
// output, exit status 1.
struct Refusal {
  const char* name;
  std::vector<std::string> arguments;  // "@" stands for the case's file
  std::string fileContents;            // written to the case's file
  std::string errors;                  // "@" stands for the case's file
};

void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

std::string withFile(std::string text, const std::string& file) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, file);
  return text;
}

std::string sampleWithLinkType(uint32_t linkType) {
  std::string sample = readFile(kSample);
  putLe32(sample, 20, linkType);
  return sample;
}

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, SaysWhyAndExitsWithOne) {
  const ScratchDirectory scratch;
  const std::string file = scratch / "capture";
  if (!GetParam().fileContents.empty()) writeFile(file, GetParam().fileContents);
  std::vector<std::string> arguments;
  for (const std::string& argument : GetParam().arguments) arguments.push_back(withFile(argument, file));
  const ChildResult result = readCapture(arguments);
  EXPECT_EQ(result.status, "exit 1");
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.errors, withFile(GetParam().errors, file));
  if (!GetParam().fileContents.empty()) {
    EXPECT_EQ(readFile(file), GetParam().fileContents) << "the capture changed";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Refused,
    ::testing::Values(
        Refusal{"MissingFile", {"-r", "@"}, "", "vestrel-trace: @: No such file or directory\n"},
        Refusal{"NotACapture",
                {"-r", "@"},
                "GET / HTTP/1.1\r\nHost: example\r\n\r\n",
                "vestrel-trace: @: unknown file format\n"},
        Refusal{"Directory", {"-r", "/"}, "", "vestrel-trace: /: error reading dump file: Is a directory\n"},
        Refusal{"UnsupportedLinkType",
                {"-r", "@"},
                sampleWithLinkType(105),
                "vestrel-trace: @: link type IEEE802_11 (802.11) is not supported\n"},
        Refusal{"PppLinkType",
                {"-r", "@"},
                sampleWithLinkType(9),
                "vestrel-trace: @: link type PPP (PPP) is not supported\n"},
        Refusal{"LogCannotBeOpened",
                {"--log", "/nonexistent/dir/t.log", "-r", "@"},
                readFile(kSample),
                "vestrel-trace: /nonexistent/dir/t.log: No such file or directory\n"},
        Refusal{"LogIsTheCapture",
                {"--log", "@", "-r", "@"},
                readFile(kSample),
                "vestrel-trace: @: is the capture file being read; not written\n"},
        Refusal{"SavedFramesOverTheCapture",
                {"-w", "@", "-r", "@"},
                readFile(kSample),
                "vestrel-trace: @: is the capture file being read; not written\n"},
        Refusal{"SavedFramesIntoTheLog",
                {"-r", kSample.string(), "--log", "@", "-w", "@"},
                "",
                "vestrel-trace: @: is the log file (--log) as well; -w needs a file of its own\n"},
        Refusal{"BadFilterExpression",
                {"-r", "@", "tcp", "porrt", "1"},
                readFile(kSample),
                "vestrel-trace: can't parse filter expression: syntax error\n"},
        Refusal{"UnknownOption", {"-k", "-r", "@"}, "", "vestrel-trace: unknown option -k\n" + kUsageHint},
        Refusal{
            "UnknownLongOption", {"--bogus", "-r", "@"}, "", "vestrel-trace: unknown option --bogus\n" + kUsageHint},
        Refusal{
            "LogWithoutValue", {"-r", "@", "--log"}, "", "vestrel-trace: option --log needs a value\n" + kUsageHint},
        Refusal{"PortOutOfRange",
                {"--port", "65536"},
                "",
                "vestrel-trace: --port: '65536' is not a port number (1 to 65535)\n" + kUsageHint},
        Refusal{"PortZero",
                {"--port=0"},
                "",
                "vestrel-trace: --port: '0' is not a port number (1 to 65535)\n" + kUsageHint},
        Refusal{"CountNotANumber",
                {"-c", "5x"},
                "",
                "vestrel-trace: -c: '5x' is not a count of messages (1 or more)\n" + kUsageHint},
        Refusal{"SnapshotLength",
                {"-s", "x"},
                "",
                "vestrel-trace: -s: 'x' is not a snapshot length (0 for the largest, 262144)\n" + kUsageHint},
        Refusal{"BufferSize", {"-B", "0"}, "", "vestrel-trace: -B: '0' is not a buffer size in KiB\n" + kUsageHint},
        Refusal{"FileSize",
                {"-w", "@", "-C", "1T"},
                "",
                "vestrel-trace: -C: '1T' is not a file size (millions of bytes, or with K, M or G)\n" + kUsageHint},
        Refusal{"Seconds",
                {"-G", "-5"},
                "",
                "vestrel-trace: -G: '-5' is not a number of seconds (1 or more)\n" + kUsageHint},
        Refusal{
            "FileCount", {"-W", "x"}, "", "vestrel-trace: -W: 'x' is not a number of files (1 or more)\n" + kUsageHint},
        Refusal{"RotationWithoutFile",
                {"-C", "1", "-r", "@"},
                "",
                "vestrel-trace: -C, -G and -W rotate the files of -w FILE; give -w\n" + kUsageHint},
        Refusal{"RingWithoutRotation", {"-w", "@", "-W", "3"}, "", "vestrel-trace: -W needs -C or -G\n" + kUsageHint},
        Refusal{"RotatedStandardOutput",
                {"-w", "-", "-G", "60"},
                "",
                "vestrel-trace: -C and -G rotate files; standard output (-w -) cannot be rotated\n" + kUsageHint},
        Refusal{"SixTimeLetters",
                {"-ttt", "-ttt"},
                "",
                "vestrel-trace: -tttttt: only -t, -tt, -ttt, -tttt and -ttttt are supported\n" + kUsageHint},
        Refusal{
            "TcpdumpLetter", {"-nA"}, "", "vestrel-trace: option -A is not supported by vestrel-trace\n" + kUsageHint},
        Refusal{"TcpdumpLetterWithValue",
                {"-yEN10MB", "-r", "@"},
                "",
                "vestrel-trace: option -y is not supported by vestrel-trace\n" + kUsageHint},
        Refusal{"TcpdumpLongOption",
                {"--time-stamp-precision=nano"},
                "",
                "vestrel-trace: option --time-stamp-precision is not supported by vestrel-trace\n" + kUsageHint},
        Refusal{"ValueForAFlag", {"--help=x"}, "", "vestrel-trace: --help=x: --help takes no value\n" + kUsageHint},
        Refusal{"Ambiguous",
                {"--s"},
                "",
                "vestrel-trace: option --s is ambiguous: --single-stream, --stats, --snapshot-length\n" + kUsageHint},
        Refusal{"NoSuchUser",
                {"-Z", "no-such-user", "-r", "@"},
                readFile(kSample),
                "vestrel-trace: cannot give up root privileges: -Z: no user named 'no-such-user'\n"},
        Refusal{"FileAndDevice",
                {"-r", "@", "-i", "lo"},
                "",
                "vestrel-trace: -r and -i cannot be used together\n" + kUsageHint}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Refused, EmptyFileIsNotACapture) {
  const ScratchDirectory scratch;
  writeFile(scratch / "empty", "");
  const ChildResult result = readCapture({"-r", scratch / "empty"});
  EXPECT_EQ(result.status, "exit 1");
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(result.errors.starts_with("vestrel-trace: " + (scratch / "empty").string() + ": truncated dump file"))
      << result.errors;
}

// Output that cannot be written is a failure, not a quiet success.
TEST(Outputs, FullStandardOutputIsReported) {
  const ChildResult result = runProgram({kReader, {"-r", kSample}, std::nullopt, "/dev/full"});
  EXPECT_EQ(result.status, "exit 1");
  EXPECT_EQ(splitEndOfRun(result.errors).problems,
            "vestrel-trace: error writing standard output: No space left on device\n");
}

TEST(Outputs, FullStandardOutputFailsUsageAndVersion) {
  for (const char* option : {"-h", "-V"}) {
    const ChildResult result = runProgram({kReader, {option}, std::nullopt, "/dev/full"});
    EXPECT_EQ(result.status, "exit 1") << option;
    EXPECT_EQ(result.errors, "vestrel-trace: error writing standard output: No space left on device\n") << option;
  }
}

// The live program says so too, and ends with status 0 as it always does.
TEST(Outputs, LiveProgramReportsAFullStandardOutput) {
  const ChildResult result = runProgram({kVestrel, {"-h"}, std::nullopt, "/dev/full"});
  EXPECT_EQ(result.status, "exit 0");
  EXPECT_EQ(result.errors, "vestrel: error writing standard output: No space left on device\n");
}

TEST(Outputs, FullLogIsReportedOnceAndFailsTheRun) {
  const ChildResult result = readCapture({"--log", "/dev/full", "-r", kSample});
  EXPECT_EQ(result.status, "exit 1");
  const std::string failure =
      "Error: Unable to write to log file /dev/full (No space left on device); logging stopped.\n";
  const size_t at = result.output.find(failure);
  ASSERT_NE(at, std::string::npos) << result.output;
  EXPECT_EQ(result.output.find(failure, at + 1), std::string::npos);
  // The console goes on: every message is still printed.
  std::string withoutFailure = result.output;
  withoutFailure.erase(at, failure.size());
  EXPECT_EQ(withoutFailure, golden("chat-session.txt"));
}

// `| head -1`: a reader that has what it wanted and leaves is no error.
TEST(Outputs, ReaderThatLeftEndsTheReadingQuietly) {
  const ChildResult result = runProgram({kReader, {"-r", kSample}, std::nullopt, std::nullopt, true});
  expectClean(result);
}

// `--log >(head -c 100)`: the log's reader leaves; the console goes on.
TEST(Outputs, LogPipeWhoseReaderLeftIsReported) {
  const ScratchDirectory scratch;
  const auto capture = scratch / "capture";
  const auto fifo = scratch / "fifo";
  // A log far larger than a pipe holds, so the reader's leaving is met.
  ASSERT_EQ(runProgram({kGenerator, {"--messages", "2000", "-o", capture}}).status, "exit 0");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  test::ChildProcess reader;
  ASSERT_TRUE(reader.start("/usr/bin/head", {"-c", "100", fifo}));
  const ChildResult result = readCapture({"--log", fifo, "-r", capture});
  EXPECT_EQ(reader.finish(test::Millis(5000)).status, "exit 0");
  EXPECT_EQ(result.status, "exit 1");
  const std::string failure =
      "Error: Unable to write to log file " + fifo.string() + " (Broken pipe); logging stopped.\n";
  std::string rest = result.output;
  const size_t at = rest.find(failure);
  ASSERT_NE(at, std::string::npos) << result.errors;
  rest.erase(at, failure.size());
  EXPECT_EQ(rest, readCapture({"-r", capture}).output);
}

// Started without standard output, the program must not take its number
// for the log: the usage text would go into the log.
TEST(Outputs, ClosedStandardOutputIsNotReused) {
  const ScratchDirectory scratch;
  const auto log = scratch / "log";
  test::ChildSetup closed;
  closed.closedDescriptors = {1};
  const ChildResult result = runProgram({kVestrel, {"-l", log, "-h"}, std::nullopt, std::nullopt, false, closed});
  EXPECT_EQ(result.status, "exit 0");
  EXPECT_EQ(readFile(log), "");
}

TEST(Outputs, HelpAndVersionGoToStandardOutput) {
  const ChildResult help = readCapture({"-h"});
  expectClean(help);
  EXPECT_TRUE(help.output.starts_with("Usage: vestrel-trace [OPTIONS] [FILTER EXPRESSION]\n")) << help.output;
  for (const char* option : {"-v ", "-u ", "--whole-texts ", "--log FILE ", "-r FILE ", "-i DEVICE ", "-h ", "-V "}) {
    EXPECT_NE(help.output.find(std::string("\n  ") + option), std::string::npos) << option;
  }
  const ChildResult version = readCapture({"--version"});
  expectClean(version);
  EXPECT_TRUE(version.output.starts_with("vestrel-trace version 1.0\nlibpcap version ")) << version.output;
}

}  // namespace
}  // namespace vestrel::read

namespace vestrel::read {
namespace {

// The sample's console up to (not including) its messageCount+1-th message.
// What is read and saved is what the ports and the expression pick, from a
// file the program reads itself as from a live device.
TEST(Selection, PortsAndExpressionPickTheFramesShownAndSaved) {
  std::string sample = readFile(kSample);
  // The first frame (a SYN) moved to other ports: -w must leave it out.
  const size_t tcp = recordStarts(sample)[0] + kPcapRecordHeaderBytes + 14 + 20;
  sample.replace(tcp, 4, std::string{0, 80, 0, 81});
  const ScratchDirectory scratch;
  writeFile(scratch / "moved", sample);
  EXPECT_EQ(readCapture({"-r", scratch / "moved", "-w", scratch / "saved"}).status, "exit 0");
  EXPECT_EQ(recordStarts(readFile(scratch / "saved")).size(), recordStarts(sample).size() - 1);
  EXPECT_EQ(readCapture({"--port", "7000", "-r", kSample}).output, "") << "--port replaces the chat port";
  const ChildResult one = readCapture({"-t", "-r", kSample, "port", "61023"});
  EXPECT_GT(one.output.size(), 1000U);
  for (size_t at = 0; at < one.output.size(); at = one.output.find('\n', at) + 1) {
    const bool continuation = one.output[at] == ' ';
    ASSERT_TRUE(continuation || one.output.compare(at, 16, "192.0.2.77:61023") == 0) << one.output.substr(at, 80);
  }
}

// The sample's console up to its messageCount-th message and the lines of
// that message: nothing follows once -c has its count.
std::string firstMessages(size_t messageCount) {
  std::string all = golden("chat-session.txt");
  size_t messages = 0;
  for (size_t at = 0; at < all.size(); at = all.find('\n', at) + 1) {
    if (all[at] == ' ') continue;
    if (messages == messageCount) return all.substr(0, at);
    const size_t lineEnd = all.find('\n', at);
    const std::string_view line(all.data() + at, lineEnd - at);
    if (line.find(" Sent -> [") != std::string::npos || line.find(" Rcvd -> [") != std::string::npos) ++messages;
  }
  return all;
}

TEST(Count, StopsAfterThatManyMessages) {
  const ChildResult result = readCapture({"-c", "3", "-r", kSample});
  expectClean(result);
  EXPECT_EQ(result.output, firstMessages(3));
}

// What a command line must print: the first lines of the sample's output.
struct CommandLine {
  const char* name;
  std::vector<std::string> options;
  std::string firstLines;
};

void PrintTo(const CommandLine& c, std::ostream* out) { *out << c.name; }

class CommandLines : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLines, PrintWhatTheyAskFor) {
  std::vector<std::string> arguments = GetParam().options;
  for (const char* argument : {"-c", "2", "-r"}) arguments.emplace_back(argument);
  arguments.push_back(kSample);
  const ChildResult result = readCapture(arguments);
  expectClean(result);
  EXPECT_EQ(result.output.substr(0, GetParam().firstLines.size()), GetParam().firstLines);
}

const std::string kOpened = "192.0.2.10:50412 Conn -> opened to 198.51.100.20:6112, protocol byte 0x01\n";
const std::string kFirstLine = "192.0.2.10:50412 Sent -> [0x50] SID_AUTH_INFO        -> Protocol ID:      0\n";
const std::string kSecondLine = std::string(56, ' ') + "Platform ID:      IX86\n";
// In the local time of day, the default, continuation lines under the details.
const std::string kDefault =
    "10:00:00.038225 " + kOpened + "10:00:00.038320 " + kFirstLine + std::string(16, ' ') + kSecondLine;

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLines,
    ::testing::Values(
        CommandLine{"Default", {}, kDefault}, CommandLine{"NoTime", {"-t"}, kOpened + kFirstLine + kSecondLine},
        CommandLine{"Epoch", {"-tt"}, "1796637600.038225 " + kOpened + "1796637600.038320 " + kFirstLine},
        CommandLine{"SincePrevious",
                    {"-ttt", "-q"},
                    " 00:00:00.000000 " + kOpened +
                        " 00:00:00.000095 192.0.2.10:50412 Sent -> [0x50] SID_AUTH_INFO\n"
                        " 00:00:00.041000 192.0.2.10:50412 Rcvd -> [0x25] SID_PING\n"},
        CommandLine{"DateAndTime", {"-tttt"}, "2026-12-07 10:00:00.038225 " + kOpened},
        CommandLine{"SinceFirst",
                    {"-ttttt", "-q"},
                    " 00:00:00.000000 " + kOpened +
                        " 00:00:00.000095 192.0.2.10:50412 Sent -> [0x50] SID_AUTH_INFO\n"
                        " 00:00:00.041095 192.0.2.10:50412 Rcvd -> [0x25] SID_PING\n"},
        CommandLine{"SummaryOnly", {"-q", "-t"}, kOpened + "192.0.2.10:50412 Sent -> [0x50] SID_AUTH_INFO\n"},
        // Accepted, and nothing to change when a file is read.
        CommandLine{
            "HabitsOfTcpdump", {"-n", "-nn", "-p", "-l", "-U", "-s", "0", "-B", "1024", "--immediate-mode"}, kDefault},
        CommandLine{"SharedStream",
                    {"--single-stream"},
                    "Sent -> [0x50] SID_AUTH_INFO        -> Protocol ID:\t 0\n\t\t\t\t       Platform ID:\t 68XI\n"},
        CommandLine{"SharedStreamWithTime",
                    {"--single-stream", "-tttt"},
                    "2026-12-07 10:00:00.038320 Sent -> [0x50] SID_AUTH_INFO        -> Protocol ID:      0\n" +
                        std::string(66, ' ') + "Platform ID:      68XI\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// -X on the console: the log's dump under the message, indented with it,
// bytes past ASCII as dots, the empty line after it empty; -x the same
// without the characters.
TEST(HexOnTheConsole, FollowsTheMessageUnderItsPrefix) {
  const std::string indent(17, ' ');
  const std::string heading = "Country Name:     United States\n" + indent + "Sent packet 0x50, Length 58:\n" + indent;
  const ChildResult text = readCapture({"-X", "-t", "-c", "1", "-r", kSample});
  expectClean(text);
  EXPECT_TRUE(text.output.ends_with(heading +
                                    "0000 FF 50 3A 00 00 00 00 00 36 38 58 49 50 58 33 57 .P:.....68XIPX3W\n" + indent +
                                    "0010 1C 00 00 00 53 55 6E 65 C0 00 02 0A 2C 01 00 00 ....SUne....,...\n" + indent +
                                    "0020 09 04 00 00 09 04 00 00 55 53 41 00 55 6E 69 74 ........USA.Unit\n" + indent +
                                    "0030 65 64 20 53 74 61 74 65 73 00                   ed States.\n\n"))
      << text.output;
  const ChildResult bytes = readCapture({"-x", "-t", "-c", "1", "-r", kSample});
  expectClean(bytes);
  EXPECT_TRUE(bytes.output.ends_with(heading + "0000 FF 50 3A 00 00 00 00 00 36 38 58 49 50 58 33 57\n" + indent +
                                     "0010 1C 00 00 00 53 55 6E 65 C0 00 02 0A 2C 01 00 00\n" + indent +
                                     "0020 09 04 00 00 09 04 00 00 55 53 41 00 55 6E 69 74\n" + indent +
                                     "0030 65 64 20 53 74 61 74 65 73 00\n\n"))
      << bytes.output;
}

// -w -: standard output carries the frames, the very file -w FILE writes,
// and nothing else.
TEST(SavedFrames, StandardOutputCarriesOnlyTheFrames) {
  const ScratchDirectory scratch;
  ASSERT_EQ(readCapture({"-r", kSample, "-w", scratch / "saved"}).status, "exit 0");
  const ChildResult piped = readCapture({"-r", kSample, "-w", "-", "--json"});
  expectClean(piped);
  EXPECT_EQ(piped.output, readFile(scratch / "saved"));
}

// The counts at the end of a run: frames that passed the filter, messages
// shown, connections and what their streams lost.
struct EndReport {
  const char* name;
  std::vector<std::string> arguments;
  std::string report;
};

void PrintTo(const EndReport& c, std::ostream* out) { *out << c.name; }

class EndOfRunReport : public ::testing::TestWithParam<EndReport> {};

TEST_P(EndOfRunReport, CountsWhatTheRunSaw) {
  std::vector<std::string> arguments{"-r", kSample};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const ChildResult result = readCapture(arguments);
  EXPECT_EQ(result.status, "exit 0");
  EXPECT_EQ(result.errors, GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EndOfRunReport,
    ::testing::Values(
        EndReport{"WholeFile", {}, kWholeSampleReport},
        EndReport{"StoppedByCount",
                  {"-c", "3"},
                  "6 packets captured\n3 messages shown\n1 connection\n0 bytes lost in 0 gaps\n"
                  "0 bytes skipped looking for a message header\n0 bytes left incomplete in 0 messages\n"},
        EndReport{"NoFramePassesTheFilter",
                  {"host", "192.0.2.99"},
                  "0 packets captured\n0 messages shown\n0 connections\n0 bytes lost in 0 gaps\n"
                  "0 bytes skipped looking for a message header\n0 bytes left incomplete in 0 messages\n"},
        EndReport{"SharedStreamHasNoConnections", {"--single-stream"}, "66 packets captured\n56 messages shown\n"},
        EndReport{"FramesSavedToStandardOutput", {"-w", "-"}, kWholeSampleReport}),
    [](const auto& info) { return std::string(info.param.name); });

// The records of a pcap file, each with its header.
std::vector<std::string> recordsOf(const std::string& file) {
  std::vector<std::string> records;
  const std::vector<size_t> starts = recordStarts(file);
  for (size_t at = 0; at < starts.size(); ++at) {
    records.push_back(file.substr(starts[at], (at + 1 < starts.size() ? starts[at + 1] : file.size()) - starts[at]));
  }
  return records;
}

// -C, -G and -W as tcpdump names their files: each a whole pcap file no
// larger than the size, together the frames of one -w file; the ring
// keeps the last of them, -G's limit the first (files listed in the order
// they were last written).
TEST(SavedFrames, RotateBySizeTimeAndCount) {
  const std::string real = std::string(VESTREL_SAMPLES_DIR) + "/real-games.pcap";
  const ScratchDirectory whole;
  ASSERT_EQ(readCapture({"-r", real, "-w", whole / "all"}).status, "exit 0");
  const std::string all = readFile(whole / "all");
  const std::vector<std::string> frames = recordsOf(all);
  enum class Kept { All, Last, First };
  const struct {
    std::vector<std::string> options;
    std::string name;                // -w
    std::vector<std::string> files;  // in the order they were last written
    Kept kept;
  } kRows[] = {{{"-C", "10K"}, "f", {"f", "f1", "f2", "f3"}, Kept::All},
               {{"-C", "10K", "-W", "3"}, "f", {"f1", "f2", "f0"}, Kept::Last},
               {{"-C", "10K", "-W", "11"}, "f", {"f00", "f01", "f02", "f03"}, Kept::All},
               {{"-C", "10K", "-W", "1"}, "f", {"f"}, Kept::Last},
               {{"-C", "1"}, "f", {"f"}, Kept::All},
               // The capture's first frame came at 1796693735 s.
               {{"-G", "5", "-W", "2"}, "g-%s", {"g-1796693735", "g-1796693740"}, Kept::First}};
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.options[0] + " " + row.options[1] + " " + row.files.back());
    const ScratchDirectory scratch;
    // The files of a rotation are made once root is given up.
    std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
    std::vector<std::string> arguments{"-r", real, "-w", scratch / row.name};
    arguments.insert(arguments.end(), row.options.begin(), row.options.end());
    const ChildResult result = readCapture(arguments);
    EXPECT_EQ(result.status, "exit 0");
    EXPECT_EQ(splitEndOfRun(result.errors).problems,
              row.kept == Kept::First ? "vestrel-trace: Maximum file limit reached: 2\n" : "");
    std::vector<std::string> saved;
    for (const std::string& name : row.files) {
      const std::string file = readFile(scratch / name);
      EXPECT_EQ(file.substr(0, 24), all.substr(0, 24)) << name;
      EXPECT_LE(file.size(), row.options[1] == "10K" ? size_t{10} * 1024 : all.size()) << name;
      for (std::string& record : recordsOf(file)) saved.push_back(std::move(record));
    }
    EXPECT_EQ(static_cast<size_t>(std::distance(std::filesystem::directory_iterator(scratch.path()), {})),
              row.files.size());
    ASSERT_LT(size_t{0}, saved.size());
    ASSERT_LE(saved.size(), frames.size());
    const auto start = row.kept == Kept::First ? frames.begin() : frames.end() - static_cast<ptrdiff_t>(saved.size());
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), start));
    if (row.kept == Kept::All) {
      EXPECT_EQ(saved.size(), frames.size());
    }
  }
}

}  // namespace
}  // namespace vestrel::read

namespace vestrel::read {
namespace {

// tcpdump -w - | vestrel-trace -r -, ended by Ctrl-C while it waits for
// more: every message read so far, and an end without error.
TEST(StandardInput, CtrlCWhileReadingAPipeEndsCleanly) {
  const ScratchDirectory scratch;
  const auto fifo = scratch / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open for writing ("r+": read and write, so opening does not wait
  // for a reader), so the reader never sees the end of the pipe.
  const std::unique_ptr<FILE, int (*)(FILE*)> writer(std::fopen(fifo.c_str(), "r+"), &std::fclose);
  ASSERT_NE(writer, nullptr);
  const std::string sample = readFile(kSample);
  ASSERT_EQ(std::fwrite(sample.data(), 1, sample.size(), writer.get()), sample.size());
  ASSERT_EQ(std::fflush(writer.get()), 0);
  test::ChildProcess reader;
  test::ChildSetup utc;
  utc.environment = {{"TZ", "UTC"}};
  ASSERT_TRUE(reader.start(kReader, {"-l", "-r", "-"}, fifo, utc));
  const std::string expected = golden("chat-session.txt");
  const std::string lastLine = expected.substr(expected.rfind('\n', expected.size() - 2) + 1);
  EXPECT_TRUE(reader.waitForOutputText(lastLine, test::Millis(5000)));
  const ChildResult result = reader.stop(SIGINT, test::Millis(5000));
  EXPECT_EQ(result.status, "exit 0");
  EXPECT_EQ(result.output, expected);
  // The counts, but the frames': the last ones, without a message, may
  // not have been read when the signal came.
  const auto afterFirstLine = [](const std::string& text) { return text.substr(text.find('\n') + 1); };
  EXPECT_EQ(afterFirstLine(result.errors), afterFirstLine(kWholeSampleReport)) << result.errors;
}

}  // namespace
}  // namespace vestrel::read
