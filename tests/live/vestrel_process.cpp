#include "vestrel_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "common/child_process.h"

namespace vestrel::live {

namespace {

constexpr Millis kEndTimeout{5000};
constexpr std::chrono::microseconds kStatePollInterval{100};
// The kernel hands the capture its frames in blocks, at most 5 ms after
// they came; a program seen asleep without a break for well over that has
// been given everything sent before.
constexpr std::chrono::milliseconds kIdleSpan{15};

}  // namespace

std::string vestrelBinary() {
  const char* chosen = std::getenv("VESTREL_LIVE_BINARY");
  return chosen != nullptr && *chosen != '\0' ? chosen : VESTREL_BINARY;
}

std::string vestrelTraceBinary() {
  const char* chosen = std::getenv("VESTREL_LIVE_TRACE_BINARY");
  return chosen != nullptr && *chosen != '\0' ? chosen : VESTREL_TRACE_BINARY;
}

VestrelProcess::~VestrelProcess() {
  test::killChild(pid_);
  if (outputFd_ >= 0) close(outputFd_);
}

bool VestrelProcess::start(const std::vector<std::string>& options, const test::ChildSetup& setup,
                           const std::string& binary) {
  if (started()) return false;
  std::vector<std::string> arguments{binary.empty() ? vestrelBinary() : binary};
  test::ChildSetup withoutSudo = setup;
  const std::vector<std::pair<std::string, std::optional<std::string>>> sudoCleared{
      {"SUDO_UID", std::nullopt}, {"SUDO_GID", std::nullopt}, {"SUDO_USER", std::nullopt}};
  withoutSudo.environment.insert(withoutSudo.environment.begin(), sudoCleared.begin(), sudoCleared.end());
  arguments.insert(arguments.end(), options.begin(), options.end());

  // No input, and standard output and standard error joined in one pipe.
  const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0) return false;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(input);
    return false;
  }
  const pid_t child = test::spawnChild(arguments, input, pipeFds[1], pipeFds[1], withoutSudo);
  close(input);
  close(pipeFds[1]);
  if (child < 0) {
    close(pipeFds[0]);
    return false;
  }
  pid_ = child;
  outputFd_ = pipeFds[0];
  fcntl(outputFd_, F_SETFL, fcntl(outputFd_, F_GETFL) | O_NONBLOCK);
  return true;
}

bool VestrelProcess::readSome(const Deadline& deadline) {
  if (outputFd_ < 0) return false;
  pollfd ready{outputFd_, POLLIN, 0};
  if (poll(&ready, 1, deadline.remainingMs()) <= 0) return false;
  char chunk[4096];
  const ssize_t count = read(outputFd_, chunk, sizeof chunk);
  if (count > 0) {
    output_.append(chunk, static_cast<size_t>(count));
    return true;
  }
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  close(outputFd_);  // end of output
  outputFd_ = -1;
  return false;
}

void VestrelProcess::readAvailable() {
  const Deadline now(Millis(0));
  while (readSome(now)) {}
}

char VestrelProcess::state() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t nameEnd = line.rfind(')');  // the name may hold spaces
  return nameEnd != std::string::npos && nameEnd + 2 < line.size() ? line[nameEnd + 2] : '?';
}

uint64_t VestrelProcess::contextSwitches() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  uint64_t total = 0;
  for (std::string line; std::getline(status, line);) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && line.find("ctxt_switches") != std::string::npos) {
      total += std::strtoull(line.c_str() + colon + 1, nullptr, 10);
    }
  }
  return total;
}

bool VestrelProcess::waitUntilIdle(Millis timeout) {
  struct Asleep {
    std::chrono::steady_clock::time_point since;
    uint64_t switches;
  };
  const Deadline deadline(timeout);
  std::optional<Asleep> asleep;
  while (started() && !deadline.passed()) {
    readAvailable();
    const auto now = std::chrono::steady_clock::now();
    // The switch count moves whenever the program wakes, so a wake between
    // two looks (this process may itself wait long for the processor on a
    // busy machine) is never taken for unbroken sleep.
    const uint64_t switches = contextSwitches();
    if (state() != 'S') {
      asleep.reset();
    } else if (!asleep || asleep->switches != switches) {
      asleep = Asleep{now, switches};
    } else if (now - asleep->since >= kIdleSpan) {
      return true;
    }
    std::this_thread::sleep_for(kStatePollInterval);
  }
  return false;
}

bool VestrelProcess::pause() {
  if (!started() || kill(pid_, SIGSTOP) != 0) return false;
  const Deadline deadline(kEndTimeout);
  while (state() != 'T' && !deadline.passed()) std::this_thread::sleep_for(kStatePollInterval);
  paused_ = state() == 'T';
  return paused_;
}

void VestrelProcess::resume() {
  if (started()) kill(pid_, SIGCONT);
  paused_ = false;
}

bool VestrelProcess::waitForLines(size_t count, Millis timeout) {
  const Deadline deadline(timeout);
  auto lines = [this] { return static_cast<size_t>(std::count(output_.begin(), output_.end(), '\n')); };
  while (lines() < count) {
    if (!readSome(deadline)) return lines() >= count;
  }
  return true;
}

bool VestrelProcess::waitForText(std::string_view text, Millis timeout) {
  const Deadline deadline(timeout);
  while (output_.find(text) == std::string::npos) {
    if (!readSome(deadline)) return output_.find(text) != std::string::npos;
  }
  return true;
}

ProcessResult VestrelProcess::stop(int signal) {
  if (paused_) resume();  // a stopped process would not see the signal
  if (started()) kill(pid_, signal);
  return finish(Deadline(kEndTimeout));
}

ProcessResult VestrelProcess::finish(const Deadline& deadline) {
  while (readSome(deadline)) {}
  ProcessResult result;
  result.status = test::reapChild(pid_, deadline);
  result.output = output_;
  return result;
}

ProcessResult VestrelProcess::run(const std::vector<std::string>& options, Millis timeout,
                                  const test::ChildSetup& setup) {
  VestrelProcess process;
  if (!process.start(options, setup)) return {"", "could not start"};
  return process.finish(Deadline(timeout));
}

std::optional<int> findDeviceNumber(std::string_view listedName) {
  const ProcessResult listing = VestrelProcess::run({"-d"}, kEndTimeout);
  std::istringstream lines(listing.output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t dot = line.find(". ");
    const std::string number = line.substr(0, std::min(dot, line.size()));
    const bool numbered = !number.empty() && std::all_of(number.begin(), number.end(),
                                                         [](unsigned char c) { return std::isdigit(c) != 0; });
    if (numbered && dot != std::string::npos && line.substr(dot + 2) == listedName) return std::stoi(number);
  }
  return std::nullopt;
}

}  // namespace vestrel::live
