#include "read/run_program.h"

#include <fcntl.h>
#include <unistd.h>

namespace vestrel::read {

namespace {

constexpr test::Millis kTimeout{20000};

// Standard output into a file of the case's choosing (/dev/full, say);
// standard error still read back.
ChildResult runIntoFile(const ProgramRun& run, const std::filesystem::path& output) {
  const ScratchDirectory scratch;
  const auto errorsPath = scratch / "errors";
  const int input = open(run.input.value_or("/dev/null").c_str(), O_RDONLY | O_CLOEXEC);
  const int outputFd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> arguments{run.program};
  arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
  pid_t child = input >= 0 && outputFd >= 0 && errors >= 0 ? test::spawnChild(arguments, input, outputFd, errors) : -1;
  for (const int fd : {input, outputFd, errors}) {
    if (fd >= 0) close(fd);
  }
  if (child < 0) return {"", "", "could not start"};
  ChildResult result;
  result.status = test::reapChild(child, test::Deadline(kTimeout));
  result.errors = readFile(errorsPath);
  return result;
}

}  // namespace

ChildResult runProgram(const ProgramRun& run) {
  if (run.output) return runIntoFile(run, *run.output);
  return test::ChildProcess::run(run.program, run.arguments, run.input.value_or("/dev/null"), kTimeout);
}

}  // namespace vestrel::read
