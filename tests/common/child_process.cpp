#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
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

}  // namespace

pid_t spawnChild(const std::vector<std::string>& arguments, int input, int output, int error) {
  // Built before the fork: the child only calls what is safe there.
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  argv.reserve(copies.size() + 1);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child != 0) return child;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Cannot fail for these signals and handler.
  static_cast<void>(signal(SIGINT, SIG_DFL));
  static_cast<void>(signal(SIGTERM, SIG_DFL));
  dup2(input, STDIN_FILENO);
  dup2(output, STDOUT_FILENO);
  dup2(error, STDERR_FILENO);
  execv(argv[0], argv.data());
  static const char message[] = "test: cannot exec the program\n";
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  _exit(127);
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
                         const std::filesystem::path& input) {
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
  const pid_t child = spawnChild(argv, inputFd, outputPipe[1], errorPipe[1]);
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

bool ChildProcess::waitForErrorText(std::string_view text, Millis timeout) {
  const Deadline deadline(timeout);
  while (errors_.find(text) == std::string::npos) {
    if (!readSome(deadline)) return errors_.find(text) != std::string::npos;
  }
  return true;
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
                              const std::filesystem::path& input, Millis timeout) {
  ChildProcess process;
  if (!process.start(program, arguments, input)) return {"", "", "could not start"};
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
