#include "common/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>
#include <thread>

namespace vestrel::test {

namespace {

constexpr Millis kReapPollInterval{5};

// Reads what one stream has into text; false once the stream has ended,
// which closes it.
bool drain(int& fd, std::string& text) {
  char chunk[4096];
  const ssize_t count = read(fd, chunk, sizeof chunk);
  if (count > 0) {
    text.append(chunk, static_cast<size_t>(count));
    return true;
  }
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  close(fd);
  fd = -1;
  return false;
}

bool makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  return true;
}

// The test's environment with the setup's changes.
std::vector<std::string> environmentFor(const ChildSetup& setup) {
  std::map<std::string, std::optional<std::string>> changes;
  for (const auto& [name, value] : setup.environment) changes[name] = value;
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!changes.contains(std::string(text.substr(0, text.find('='))))) entries.emplace_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) entries.push_back(name + "=" + *value);
  }
  return entries;
}

// The calls below run between fork and exec, where only async-signal-safe
// functions may be called.
[[noreturn]] void failInChild(const char* message, int status) {
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, message, std::strlen(message));
  _exit(status);
}

bool writeWhole(const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const size_t length = std::strlen(text);
  const bool written = write(fd, text, length) == static_cast<ssize_t>(length);
  return close(fd) == 0 && written;
}

// A process may map only its own ids into a user namespace it made, and
// only once it has given up setgroups there.
bool enterConfinedRoot(const char* idMap, const char* groupMap) {
  return unshare(CLONE_NEWUSER) == 0 && writeWhole("/proc/self/setgroups", "deny") &&
         writeWhole("/proc/self/uid_map", idMap) && writeWhole("/proc/self/gid_map", groupMap) &&
         unshare(CLONE_NEWNET) == 0;
}

// Maps the test's own user and group to root in the new user namespace.
struct OwnIdMaps {
  std::string users = "0 " + std::to_string(geteuid()) + " 1\n";
  std::string groups = "0 " + std::to_string(getegid()) + " 1\n";
};

bool becomeUser(uid_t uid, gid_t gid) {
  return setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 && setresuid(uid, uid, uid) == 0;
}

}  // namespace

pid_t spawnChild(const std::vector<std::string>& arguments, int input, int output, int error, const ChildSetup& setup) {
  // Built before the fork: the child only calls what is safe there.
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  argv.reserve(copies.size() + 1);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = environmentFor(setup);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const OwnIdMaps maps;

  const pid_t child = fork();
  if (child != 0) return child;
  dup2(input, STDIN_FILENO);
  dup2(output, STDOUT_FILENO);
  dup2(error, STDERR_FILENO);
  if (setup.outputFile) {
    const int file = open(setup.outputFile->c_str(), O_WRONLY);
    if (file < 0 || dup2(file, STDOUT_FILENO) < 0) failInChild("test: cannot open the output file\n", 126);
    close(file);
  }
  for (const int descriptor : setup.closedDescriptors) close(descriptor);
  if (setup.confinedRoot && !enterConfinedRoot(maps.users.c_str(), maps.groups.c_str())) {
    failInChild("test: cannot enter a user namespace of its own\n", 126);
  }
  if (setup.runAs && !becomeUser(setup.runAs->uid, setup.runAs->gid)) {
    failInChild("test: cannot switch the child's user\n", 126);
  }
  // After the switch: changing ids clears this.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Cannot fail for these signals and handler.
  static_cast<void>(signal(SIGINT, SIG_DFL));
  static_cast<void>(signal(SIGTERM, SIG_DFL));
  execve(argv[0], argv.data(), envp.data());
  failInChild("test: cannot exec the program\n", 127);
}

std::optional<std::string> confinedRootProblem() {
  const OwnIdMaps maps;
  const pid_t child = fork();
  if (child == 0) {
    // A short write with no error leaves errno 0; that still failed.
    const bool entered = enterConfinedRoot(maps.users.c_str(), maps.groups.c_str());
    _exit(entered ? 0 : errno != 0 ? errno : EPERM);
  }
  if (child < 0) return std::string("cannot start a child: ") + std::strerror(errno);
  int waitStatus = 0;
  // The child makes a few system calls and ends.
  if (waitpid(child, &waitStatus, 0) != child) return std::string("cannot wait for a child: ") + std::strerror(errno);
  if (!WIFEXITED(waitStatus)) return "the child trying it ended with " + describeStatus(waitStatus);
  if (WEXITSTATUS(waitStatus) == 0) return std::nullopt;
  return std::string("cannot enter a user namespace of its own: ") + std::strerror(WEXITSTATUS(waitStatus));
}

std::string describeStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return "exit " + std::to_string(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
  return "status " + std::to_string(waitStatus);
}

std::string reapChild(pid_t& pid, const Deadline& deadline) {
  int waitStatus = 0;
  while (pid > 0 && !deadline.passed()) {
    if (waitpid(pid, &waitStatus, WNOHANG) == pid) {
      pid = -1;
      return describeStatus(waitStatus);
    }
    std::this_thread::sleep_for(kReapPollInterval);
  }
  killChild(pid);
  return "did not end in time: killed";
}

void killChild(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);  // SIGKILL cannot be caught, so this returns
  pid = -1;
}

ChildProcess::~ChildProcess() {
  killChild(pid_);
  if (outputFd_ >= 0) close(outputFd_);
  if (errorFd_ >= 0) close(errorFd_);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& input, const ChildSetup& setup) {
  if (started()) return false;
  const int inputFd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (inputFd < 0) return false;
  int outputPipe[2];
  int errorPipe[2];
  if (!makePipe(outputPipe)) {
    close(inputFd);
    return false;
  }
  if (!makePipe(errorPipe)) {
    close(inputFd);
    close(outputPipe[0]);
    close(outputPipe[1]);
    return false;
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t child = spawnChild(argv, inputFd, outputPipe[1], errorPipe[1], setup);
  close(inputFd);
  close(outputPipe[1]);
  close(errorPipe[1]);
  if (child < 0) {
    close(outputPipe[0]);
    close(errorPipe[0]);
    return false;
  }
  pid_ = child;
  outputFd_ = outputPipe[0];
  errorFd_ = errorPipe[0];
  return true;
}

bool ChildProcess::readSome(const Deadline& deadline) {
  pollfd ready[2];
  nfds_t count = 0;
  if (outputFd_ >= 0) ready[count++] = {outputFd_, POLLIN, 0};
  if (errorFd_ >= 0) ready[count++] = {errorFd_, POLLIN, 0};
  if (count == 0 || poll(ready, count, deadline.remainingMs()) <= 0) return false;
  for (nfds_t i = 0; i < count; ++i) {
    if (ready[i].revents == 0) continue;
    if (ready[i].fd == outputFd_) {
      drain(outputFd_, output_);
    } else {
      drain(errorFd_, errors_);
    }
  }
  return outputFd_ >= 0 || errorFd_ >= 0;
}

namespace {

// Reads until the stream holds the text, or time is up.
template <typename ReadSome>
bool waitForTextIn(const std::string& stream, std::string_view text, Millis timeout, ReadSome readSome) {
  const Deadline deadline(timeout);
  while (stream.find(text) == std::string::npos) {
    if (!readSome(deadline)) return stream.find(text) != std::string::npos;
  }
  return true;
}

}  // namespace

bool ChildProcess::waitForErrorText(std::string_view text, Millis timeout) {
  return waitForTextIn(errors_, text, timeout, [this](const Deadline& deadline) { return readSome(deadline); });
}

bool ChildProcess::waitForOutputText(std::string_view text, Millis timeout) {
  return waitForTextIn(output_, text, timeout, [this](const Deadline& deadline) { return readSome(deadline); });
}

ChildResult ChildProcess::stop(int signal, Millis timeout) {
  if (started()) kill(pid_, signal);
  return finish(timeout);
}

ChildResult ChildProcess::finish(Millis timeout) {
  const Deadline deadline(timeout);
  while (readSome(deadline)) {}
  ChildResult result;
  result.status = reapChild(pid_, deadline);
  result.output = output_;
  result.errors = errors_;
  return result;
}

ChildResult ChildProcess::run(const std::string& program, const std::vector<std::string>& arguments,
                              const std::filesystem::path& input, Millis timeout, const ChildSetup& setup) {
  ChildProcess process;
  if (!process.start(program, arguments, input, setup)) return {"", "", "could not start"};
  return process.finish(timeout);
}

std::optional<std::string> findProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  // Recorders live in the system directories, which a non-login PATH may lack.
  std::istringstream directories(std::string(path != nullptr ? path : "") + ":/usr/sbin:/usr/bin:/sbin:/bin");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) continue;
    const std::filesystem::path candidate = std::filesystem::path(directory) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

}  // namespace vestrel::test
