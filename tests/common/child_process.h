// The programs the tests run (the monitor, the file reader, a recorder
// writing capture files, the generator), with standard output and standard
// error kept apart. Every wait is bounded, and no child outlives its
// ChildProcess (nor the test process).
#pragma once

#include <sys/types.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "deadline.h"

namespace vestrel::test {

// What a child gets besides its arguments and descriptors.
struct ChildSetup {
  // Variables of the test's environment to set (to a value) or remove
  // (nothing); a later change of a name wins.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // A user to become before exec, with this group and no supplementary ones.
  struct User {
    uid_t uid;
    gid_t gid;
  };
  std::optional<User> runAs;
  // Enters a user namespace in which only root (the test's own id) exists,
  // and a network namespace of that user namespace's own: a root with every
  // capability there whose ids and groups cannot change.
  bool confinedRoot = false;
  // Standard output goes to this file instead (/dev/full, say).
  std::optional<std::filesystem::path> outputFile;
  // Descriptors the program starts without (0, 1, 2).
  std::vector<int> closedDescriptors;
};

// Starts arguments[0] with these descriptors as its standard input, output
// and error (output and error may be the same), a clean signal state, and
// death with the test process (a program that changes its ids, or gains
// file capabilities, loses that). The child's pid, or -1 when fork failed; a
// program that cannot be executed ends with status 127, a setup that fails
// with 126.
pid_t spawnChild(const std::vector<std::string>& arguments, int input, int output, int error,
                 const ChildSetup& setup = {});

// Nothing when a child can enter the confined root of ChildSetup; otherwise
// why not (the kernel refuses a user namespace inside a chroot, or when they
// are turned off).
std::optional<std::string> confinedRootProblem();

// "exit 0", "signal 11", ... for a status from waitpid.
std::string describeStatus(int waitStatus);

// Waits until the child ends or the deadline passes, then kills it. Its
// status ("exit 0", ..., "did not end in time: killed"); pid becomes -1.
std::string reapChild(pid_t& pid, const Deadline& deadline);
// Kills and reaps a child still running; pid becomes -1.
void killChild(pid_t& pid);

struct ChildResult {
  std::string output;
  std::string errors;
  // "exit 0", "signal 11", or why the process had to be killed.
  std::string status;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with these arguments and the file as standard input;
  // false when it could not be started.
  bool start(const std::string& program, const std::vector<std::string>& arguments,
             const std::filesystem::path& input = "/dev/null", const ChildSetup& setup = {});
  bool started() const { return pid_ > 0; }

  // Reads what arrives until standard error (or output) holds the text or
  // time is up.
  bool waitForErrorText(std::string_view text, Millis timeout);
  bool waitForOutputText(std::string_view text, Millis timeout);
  const std::string& errors() const { return errors_; }

  // Sends the signal, reads the rest of both streams and reaps the process.
  // One that does not end in time is killed, and its status says so.
  ChildResult stop(int signal, Millis timeout);
  // The same without a signal, for a program that ends by itself.
  ChildResult finish(Millis timeout);

  // Runs the program to its end.
  static ChildResult run(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& input, Millis timeout, const ChildSetup& setup = {});

 private:
  // Waits once for data on either stream and reads it; false when both
  // have ended or time is up.
  bool readSome(const Deadline& deadline);

  pid_t pid_ = -1;
  int outputFd_ = -1;
  int errorFd_ = -1;
  std::string output_;
  std::string errors_;
};

// The program's path from PATH or the system directories, or nothing.
std::optional<std::string> findProgram(std::string_view name);

}  // namespace vestrel::test
