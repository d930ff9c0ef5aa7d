#include "capture/privileges.h"

#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <type_traits>
#include <vector>

#include "output/console.h"

namespace vestrel {

namespace {

static_assert(std::is_same_v<uid_t, gid_t>, "SUDO_UID and SUDO_GID are parsed alike");

constexpr uid_t kNobodyId = 65534;
constexpr const char* kNobodyName = "nobody";
constexpr const char* kRootFailure = "cannot give up root privileges: ";
constexpr const char* kCapabilityFailure = "cannot give up capabilities: ";

int errorOf(int result) { return result == 0 ? 0 : errno; }

struct CapabilityFreer {
  void operator()(cap_t capabilities) const { cap_free(capabilities); }
};
using OwnedCapabilities = std::unique_ptr<std::remove_pointer_t<cap_t>, CapabilityFreer>;

std::optional<UserEntry> entryOf(const passwd* entry) {
  if (entry == nullptr) return std::nullopt;
  return UserEntry{entry->pw_name, entry->pw_uid, entry->pw_gid};
}

// Room for the strings of one passwd entry; getpw*_r says when it is short.
constexpr size_t kPasswdBufferBytes = 16384;

class ProcessPrivileges final : public PrivilegeSystem {
 public:
  int getResUid(uid_t& real, uid_t& effective, uid_t& saved) const override {
    return errorOf(getresuid(&real, &effective, &saved));
  }
  int getResGid(gid_t& real, gid_t& effective, gid_t& saved) const override {
    return errorOf(getresgid(&real, &effective, &saved));
  }
  const char* environment(const char* name) const override { return std::getenv(name); }

  std::optional<UserEntry> userNamed(const char* name) const override {
    std::vector<char> buffer(kPasswdBufferBytes);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0) return std::nullopt;
    return entryOf(found);
  }
  std::optional<UserEntry> userWithId(uid_t uid) const override {
    std::vector<char> buffer(kPasswdBufferBytes);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0) return std::nullopt;
    return entryOf(found);
  }

  int initGroups(const char* userName, gid_t group) override { return errorOf(initgroups(userName, group)); }
  int setGroups(std::span<const gid_t> groups) override {
    return errorOf(setgroups(groups.size(), groups.empty() ? nullptr : groups.data()));
  }
  int setResGid(gid_t group) override { return errorOf(setresgid(group, group, group)); }
  int setResUid(uid_t user) override { return errorOf(setresuid(user, user, user)); }
  int setUid(uid_t user) override { return errorOf(setuid(user)); }
  int setGid(gid_t group) override { return errorOf(setgid(group)); }

  int holdsCapabilities(bool& holds) const override {
    const OwnedCapabilities current(cap_get_proc());
    const OwnedCapabilities none(cap_init());
    if (!current || !none) return errno;
    holds = cap_compare(current.get(), none.get()) != 0;
    return 0;
  }
  int clearAmbientCapabilities() override { return errorOf(cap_reset_ambient()); }
  int clearCapabilities() override {
    const OwnedCapabilities none(cap_init());
    if (!none) return errno;
    return errorOf(cap_set_proc(none.get()));
  }
};

std::string reason(int error) { return std::system_category().message(error); }

std::string idText(uid_t id) { return std::to_string(id); }

// "step: reason" for a call that failed; nothing when it did not.
std::optional<std::string> failedStep(const std::string& step, int error) {
  if (error == 0) return std::nullopt;
  return step + ": " + reason(error);
}

std::optional<std::string> setSupplementaryGroups(PrivilegeSystem& system, const DropTarget& target) {
  if (target.userName) {
    return failedStep("initgroups(" + *target.userName + ", " + idText(target.gid) + ")",
                      system.initGroups(target.userName->c_str(), target.gid));
  }
  return failedStep("setgroups(none)", system.setGroups({}));
}

// "getresuid shows 0, 0, 65534, not 65534" when any of the three is off.
std::optional<std::string> checkIds(const char* call, int error, const uid_t (&ids)[3], uid_t target) {
  if (error != 0) return failedStep(call, error);
  if (ids[0] == target && ids[1] == target && ids[2] == target) return std::nullopt;
  return std::string(call) + " shows " + idText(ids[0]) + ", " + idText(ids[1]) + ", " + idText(ids[2]) + ", not " +
         idText(target);
}

std::optional<std::string> checkNoCapabilities(const PrivilegeSystem& system) {
  bool holds = true;
  if (auto failure = failedStep("cap_get_proc", system.holdsCapabilities(holds))) return failure;
  if (holds) return "capabilities are still held after cap_set_proc";
  return std::nullopt;
}

std::optional<std::string> clearAllCapabilities(PrivilegeSystem& system) {
  if (auto failure = failedStep("cap_reset_ambient", system.clearAmbientCapabilities())) return failure;
  return failedStep("cap_set_proc", system.clearCapabilities());
}

// Root's way back: none of the ids may be 0 any more, and the calls that
// would make them 0 must be refused.
std::optional<std::string> verifyDrop(PrivilegeSystem& system, const DropTarget& target) {
  uid_t users[3] = {0, 0, 0};
  const int userError = system.getResUid(users[0], users[1], users[2]);
  if (auto failure = checkIds("getresuid", userError, users, target.uid)) return failure;
  gid_t groups[3] = {0, 0, 0};
  const int groupError = system.getResGid(groups[0], groups[1], groups[2]);
  if (auto failure = checkIds("getresgid", groupError, groups, target.gid)) return failure;
  if (system.setUid(0) == 0) return "setuid(0) still succeeds";
  if (system.setGid(0) == 0) return "setgid(0) still succeeds";
  return checkNoCapabilities(system);
}

// Groups before the group id, and both before the user id: once the user
// is not root, the others can no longer be changed.
std::optional<std::string> dropRoot(PrivilegeSystem& system, const DropTarget& target) {
  if (auto failure = setSupplementaryGroups(system, target)) return failure;
  if (auto failure = failedStep("setresgid(" + idText(target.gid) + ")", system.setResGid(target.gid))) return failure;
  if (auto failure = failedStep("setresuid(" + idText(target.uid) + ")", system.setResUid(target.uid))) return failure;
  // The kernel empties the permitted and effective sets as root goes, but
  // not the inheritable one.
  if (auto failure = clearAllCapabilities(system)) return failure;
  return verifyDrop(system, target);
}

// The user named, as the target of the drop; an error when there is none.
std::optional<std::string> findNamedUser(const PrivilegeSystem& system, const std::string& name, DropTarget& target) {
  const auto entry = system.userNamed(name.c_str());
  if (!entry) return "-Z: no user named '" + name + "'";
  target = {entry->uid, entry->gid, entry->name};
  return std::nullopt;
}

std::optional<std::string> dropCapabilities(PrivilegeSystem& system) {
  bool holds = false;
  if (auto failure = failedStep("cap_get_proc", system.holdsCapabilities(holds))) return failure;
  if (!holds) return std::nullopt;
  if (auto failure = clearAllCapabilities(system)) return failure;
  return checkNoCapabilities(system);
}

}  // namespace

PrivilegeSystem& processPrivileges() {
  static ProcessPrivileges system;
  return system;
}

std::optional<uid_t> parseSudoId(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  const char* end = text + std::strlen(text);
  uid_t id = 0;
  const auto [stop, error] = std::from_chars(text, end, id);
  if (error != std::errc() || stop != end) return std::nullopt;
  if (id == 0 || id == std::numeric_limits<uid_t>::max()) return std::nullopt;
  return id;
}

std::optional<DropTarget> sudoInvoker(const PrivilegeSystem& system) {
  // Only sudo's own environment is believed: a set-user-id root program
  // run by another user would be handed whatever that user wrote there.
  uid_t real = 1;
  uid_t effective = 1;
  uid_t saved = 1;
  if (system.getResUid(real, effective, saved) != 0 || real != 0) return std::nullopt;
  const auto sudoUser = parseSudoId(system.environment("SUDO_UID"));
  const auto sudoGroup = parseSudoId(system.environment("SUDO_GID"));
  if (!sudoUser || !sudoGroup) return std::nullopt;
  const auto entry = system.userWithId(*sudoUser);
  return DropTarget{*sudoUser, *sudoGroup, entry ? std::optional(entry->name) : std::nullopt};
}

DropTarget chooseDropTarget(const PrivilegeSystem& system) {
  if (auto invoker = sudoInvoker(system)) return *invoker;
  if (const auto nobody = system.userNamed(kNobodyName)) return {nobody->uid, nobody->gid, nobody->name};
  return {kNobodyId, kNobodyId, std::nullopt};
}

std::optional<std::string> giveUpPrivileges(PrivilegeSystem& system, const std::string& userName) {
  uid_t real = 0;
  uid_t effective = 0;
  uid_t saved = 0;
  if (auto failure = failedStep("getresuid", system.getResUid(real, effective, saved))) {
    return kRootFailure + *failure;
  }
  DropTarget target = chooseDropTarget(system);
  // A saved id of 0 is a way back to root as good as the others.
  if (real == 0 || effective == 0 || saved == 0) {
    if (!userName.empty()) {
      if (auto failure = findNamedUser(system, userName, target)) return kRootFailure + *failure;
      if (target.uid == 0) return std::nullopt;
    }
    if (auto failure = dropRoot(system, target)) return kRootFailure + *failure;
    return std::nullopt;
  }
  if (!userName.empty()) {
    if (auto failure = findNamedUser(system, userName, target)) return kCapabilityFailure + *failure;
    if (target.uid != real)
      return std::string(kCapabilityFailure) + "-Z " + userName + ": only root can become another user";
  }
  if (auto failure = dropCapabilities(system)) return kCapabilityFailure + *failure;
  return std::nullopt;
}

bool giveUpPrivilegesOrSay(PrivilegeSystem& system, FILE* errors, const char* programName,
                           const std::string& userName) {
  const auto failure = giveUpPrivileges(system, userName);
  if (!failure) return true;
  // What the console already holds comes first where both share a pipe. A
  // line that cannot be written changes nothing: the program stops anyway.
  static_cast<void>(std::fflush(console()));
  static_cast<void>(std::fprintf(errors, "%s: %s\n", programName, failure->c_str()));
  static_cast<void>(std::fflush(errors));
  return false;
}

}  // namespace vestrel
