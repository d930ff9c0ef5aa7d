#include "read/run_program.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>

namespace vestrel::read {

namespace {

constexpr test::Millis kTimeout{20000};

// Standard output into outputFd (which this closes); standard error still
// read back.
ChildResult runInto(const ProgramRun& run, int outputFd) {
  const ScratchDirectory scratch;
  const auto errorsPath = scratch / "errors";
  const int input = open(run.input.value_or("/dev/null").c_str(), O_RDONLY | O_CLOEXEC);
  const int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> arguments{run.program};
  arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
  pid_t child =
      input >= 0 && outputFd >= 0 && errors >= 0 ? test::spawnChild(arguments, input, outputFd, errors, run.setup) : -1;
  for (const int fd : {input, outputFd, errors}) {
    if (fd >= 0) close(fd);
  }
  if (child < 0) return {"", "", "could not start"};
  ChildResult result;
  result.status = test::reapChild(child, test::Deadline(kTimeout));
  result.errors = readFile(errorsPath);
  return result;
}

// A file of the case's choosing (/dev/full, say).
ChildResult runIntoFile(const ProgramRun& run, const std::filesystem::path& output) {
  return runInto(run, open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

ChildResult runIntoGonePipe(const ProgramRun& run) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {"", "", "could not make a pipe"};
  close(ends[0]);
  return runInto(run, ends[1]);
}

}  // namespace

// The reviewed outputs show their times in UTC, whatever the machine's zone.
ChildResult runProgram(const ProgramRun& given) {
  ProgramRun run = given;
  run.setup.environment.insert(run.setup.environment.begin(), {"TZ", "UTC"});
  if (run.outputReaderGone) return runIntoGonePipe(run);
  if (run.output) return runIntoFile(run, *run.output);
  return test::ChildProcess::run(run.program, run.arguments, run.input.value_or("/dev/null"), kTimeout, run.setup);
}

EndOfRun splitEndOfRun(const std::string& errors) {
  // The counts are the last lines, each a number and its words.
  size_t start = errors.size();
  while (start > 0) {
    const size_t newline = start >= 2 ? errors.rfind('\n', start - 2) : std::string::npos;
    const size_t lineStart = newline == std::string::npos ? 0 : newline + 1;
    if (!std::isdigit(static_cast<unsigned char>(errors[lineStart]))) break;
    start = lineStart;
  }
  return {errors.substr(0, start), errors.substr(start)};
}

}  // namespace vestrel::read
