// Runs the real vestrel binary as a child process, its standard output and
// standard error joined in one pipe. Every wait is bounded, and the child
// never outlives its VestrelProcess (nor the test process).
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/child_process.h"
#include "common/deadline.h"

namespace vestrel::live {

using test::Deadline;
using test::Millis;

struct ProcessResult {
  std::string output;
  // "exit 0", "signal 11", or why the process had to be killed.
  std::string status;
};

class VestrelProcess {
 public:
  VestrelProcess() = default;
  ~VestrelProcess();
  VestrelProcess(const VestrelProcess&) = delete;
  VestrelProcess& operator=(const VestrelProcess&) = delete;

  // Starts the binary (the one under test when none is named) with these
  // options; false when it could not be started. The environment has no
  // SUDO_ variables unless the setup sets them: a test run through sudo
  // would otherwise hand the program the developer's user to become.
  bool start(const std::vector<std::string>& options, const test::ChildSetup& setup = {},
             const std::string& binary = {});
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Each reads what has arrived until the condition holds or time is up.
  bool waitForLines(size_t count, Millis timeout);
  bool waitForText(std::string_view text, Millis timeout);
  const std::string& output() const { return output_; }

  // Waits until the program sleeps waiting for frames, which it only does
  // once it has taken every frame captured so far; output is read meanwhile
  // so a full pipe cannot be what it sleeps on.
  bool waitUntilIdle(Millis timeout);
  bool pause();   // SIGSTOP, once it has stopped
  void resume();  // SIGCONT
  bool paused() const { return paused_; }

  // Sends the signal, reads the rest of the output and reaps the process. One
  // that does not end in time is killed, and its status says so.
  ProcessResult stop(int signal = SIGINT);

  // Runs the binary to its end (for options that print and quit).
  static ProcessResult run(const std::vector<std::string>& options, Millis timeout, const test::ChildSetup& setup = {});

 private:
  // Reads once, waiting for data until the deadline; false at end of output.
  bool readSome(const Deadline& deadline);
  void readAvailable();
  // Every time the program has left the processor so far.
  uint64_t contextSwitches() const;
  // The state letter in /proc/PID/stat: 'S' sleeping, 'R' running, 'T' stopped.
  char state() const;
  ProcessResult finish(const Deadline& deadline);

  pid_t pid_ = -1;
  int outputFd_ = -1;
  std::string output_;
  bool paused_ = false;
};

// The binary under test: VESTREL_LIVE_BINARY when set (another build of
// it), otherwise the one built with the tests.
std::string vestrelBinary();

// vestrel-trace built with it: VESTREL_LIVE_TRACE_BINARY when set,
// otherwise the one built with the tests.
std::string vestrelTraceBinary();

// The number `vestrel -d` gives the device it lists as listedName
// ("N. listedName"), or nothing.
std::optional<int> findDeviceNumber(std::string_view listedName);

}  // namespace vestrel::live
