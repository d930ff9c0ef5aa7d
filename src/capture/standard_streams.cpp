#include "capture/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace vestrel {

namespace {

bool isOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

}  // namespace

bool prepareStandardStreams() {
  bool filled = true;
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (isOpen(descriptor)) continue;
    // open takes the lowest free number, which is this one: the lower ones
    // are open by now.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != descriptor) {
      if (opened >= 0) close(opened);
      filled = false;
    }
  }
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
  return filled;
}

}  // namespace vestrel
