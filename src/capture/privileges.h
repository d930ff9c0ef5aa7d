// Giving up root, or the capture capabilities, once the capture device and
// the log file are open: from then on the program only parses bytes that
// anyone on the network can send, and needs no privilege for that.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace vestrel {

struct UserEntry {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The system calls the drop is made of, so that tests can stand in for the
// system. Calls that can fail return 0, or the errno value they failed with.
class PrivilegeSystem {
 public:
  virtual ~PrivilegeSystem() = default;

  virtual int getResUid(uid_t& real, uid_t& effective, uid_t& saved) const = 0;
  virtual int getResGid(gid_t& real, gid_t& effective, gid_t& saved) const = 0;
  // The environment variable, or nullptr when it is not set.
  virtual const char* environment(const char* name) const = 0;
  virtual std::optional<UserEntry> userNamed(const char* name) const = 0;
  virtual std::optional<UserEntry> userWithId(uid_t uid) const = 0;

  virtual int initGroups(const char* userName, gid_t group) = 0;
  virtual int setGroups(std::span<const gid_t> groups) = 0;
  // Each sets the real, effective and saved id together.
  virtual int setResGid(gid_t group) = 0;
  virtual int setResUid(uid_t user) = 0;
  virtual int setUid(uid_t user) = 0;
  virtual int setGid(gid_t group) = 0;

  // Whether any capability is permitted, effective or inheritable (ambient
  // ones are always both permitted and inheritable).
  virtual int holdsCapabilities(bool& holds) const = 0;
  virtual int clearAmbientCapabilities() = 0;
  // Empties the permitted, effective and inheritable sets.
  virtual int clearCapabilities() = 0;
};

// The running process's own system.
PrivilegeSystem& processPrivileges();

// The user root gives way to.
struct DropTarget {
  uid_t uid = 0;
  gid_t gid = 0;
  // A user with a passwd entry gets its supplementary groups from
  // initgroups; without one the process keeps none.
  std::optional<std::string> userName;
};

// A user or group id as sudo writes it into SUDO_UID and SUDO_GID: decimal
// digits only, not 0 (root is what is being given up) and not -1 (which the
// set*id calls read as "leave unchanged"). Nothing for anything else.
std::optional<uid_t> parseSudoId(const char* text);

// The user that ran sudo: when the real user is root and SUDO_UID and
// SUDO_GID are both valid. Nothing otherwise.
std::optional<DropTarget> sudoInvoker(const PrivilegeSystem& system);

// The user that ran sudo when the real user is root and SUDO_UID and
// SUDO_GID are both valid, otherwise nobody (65534 when there is no passwd
// entry for it).
DropTarget chooseDropTarget(const PrivilegeSystem& system);

// Root gives way to the target user, or to the user named (a name, as
// tcpdump's -Z takes it; root itself keeps root); any other user clears
// its capabilities, and can become no one else. Nothing when that is done
// (or there was nothing to give up), otherwise one line saying which step
// failed and why.
std::optional<std::string> giveUpPrivileges(PrivilegeSystem& system, const std::string& userName = {});

// Gives up privileges, or prints the program's name and the failure on
// errors and returns false: the program must then stop without capturing.
bool giveUpPrivilegesOrSay(PrivilegeSystem& system, FILE* errors, const char* programName = "vestrel",
                           const std::string& userName = {});

}  // namespace vestrel
