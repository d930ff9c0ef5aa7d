#include "private_network.h"

#include <linux/if_ether.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vestrel::live {

namespace {

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::optional<std::string> bringLoopbackUp() {
  const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (control < 0) return failure("socket(AF_INET)");
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::optional<std::string> problem;
  if (ioctl(control, SIOCGIFFLAGS, &request) != 0) {
    problem = failure("SIOCGIFFLAGS on lo");
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (ioctl(control, SIOCSIFFLAGS, &request) != 0) problem = failure("SIOCSIFFLAGS on lo");
  }
  close(control);
  return problem;
}

// The program captures through a packet socket; without the right to open
// one it could only print its open error.
std::optional<std::string> checkPacketSockets() {
  const int probe = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  if (probe < 0) return failure("socket(AF_PACKET)");
  close(probe);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> enterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return failure("unshare(CLONE_NEWNET)");
  if (auto problem = bringLoopbackUp()) return problem;
  return checkPacketSockets();
}

bool liveCaptureRequired() {
  const char* value = std::getenv("VESTREL_REQUIRE_LIVE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace vestrel::live
