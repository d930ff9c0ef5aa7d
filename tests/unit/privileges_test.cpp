#include "capture/privileges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vestrel {
namespace {

using IdTriple = std::vector<uid_t>;  // real, effective, saved

// What the kernel keeps about a process's privileges.
struct ProcessState {
  IdTriple uids{0, 0, 0};
  IdTriple gids{0, 0, 0};
  std::vector<gid_t> groups{0};
  bool permitted = true;  // the permitted and effective sets
  bool inheritable = false;
  bool ambient = false;

  bool holdsCapabilities() const { return permitted || inheritable || ambient; }
  bool operator==(const ProcessState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const IdTriple& ids) {
  for (const uid_t id : ids) out << id << ' ';
  return out;
}

void PrintTo(const ProcessState& state, std::ostream* out) {
  *out << "uids " << state.uids << "gids " << state.gids << "groups " << state.groups
       << (state.holdsCapabilities() ? "with capabilities" : "without capabilities");
}

struct SimulatedUser {
  UserEntry entry;
  std::vector<gid_t> memberOf;  // in the group file
};

// A system that changes ids, groups and capabilities by the kernel's rules
// for an unprivileged caller, so a drop in the wrong order fails here as it
// would there. Quirks stand for a system that does not do what it says.
struct Quirks {
  bool savedUidStays = false;
  bool savedGidStays = false;
  bool rootComesBack = false;
  bool rootGroupComesBack = false;
  bool capabilitiesStick = false;
};

class SimulatedSystem final : public PrivilegeSystem {
 public:
  SimulatedSystem(ProcessState state, std::map<std::string, std::string> environment, std::vector<SimulatedUser> users,
                  std::string failingCall, int failure, Quirks quirks)
      : state_(std::move(state)),
        environment_(std::move(environment)),
        users_(std::move(users)),
        failingCall_(std::move(failingCall)),
        failure_(failure),
        quirks_(quirks) {}

  const ProcessState& state() const { return state_; }

  int getResUid(uid_t& real, uid_t& effective, uid_t& saved) const override {
    if (fails("getresuid")) return failure_;
    real = state_.uids[0];
    effective = state_.uids[1];
    saved = state_.uids[2];
    return 0;
  }
  int getResGid(gid_t& real, gid_t& effective, gid_t& saved) const override {
    if (fails("getresgid")) return failure_;
    real = state_.gids[0];
    effective = state_.gids[1];
    saved = state_.gids[2];
    return 0;
  }
  const char* environment(const char* name) const override {
    const auto found = environment_.find(name);
    return found == environment_.end() ? nullptr : found->second.c_str();
  }
  std::optional<UserEntry> userNamed(const char* name) const override {
    const SimulatedUser* user = find([name](const UserEntry& entry) { return entry.name == name; });
    return user != nullptr ? std::optional(user->entry) : std::nullopt;
  }
  std::optional<UserEntry> userWithId(uid_t uid) const override {
    const SimulatedUser* user = find([uid](const UserEntry& entry) { return entry.uid == uid; });
    return user != nullptr ? std::optional(user->entry) : std::nullopt;
  }

  int initGroups(const char* userName, gid_t group) override {
    if (fails("initgroups")) return failure_;
    if (!privileged()) return EPERM;
    const SimulatedUser* user = find([userName](const UserEntry& entry) { return entry.name == userName; });
    state_.groups = {group};
    if (user != nullptr) state_.groups.insert(state_.groups.end(), user->memberOf.begin(), user->memberOf.end());
    return 0;
  }
  int setGroups(std::span<const gid_t> groups) override {
    if (fails("setgroups")) return failure_;
    if (!privileged()) return EPERM;
    state_.groups.assign(groups.begin(), groups.end());
    return 0;
  }
  int setResGid(gid_t group) override {
    if (fails("setresgid")) return failure_;
    if (!privileged() && !holds(state_.gids, group)) return EPERM;
    state_.gids = {group, group, quirks_.savedGidStays ? state_.gids[2] : group};
    return 0;
  }
  int setResUid(uid_t user) override {
    if (fails("setresuid")) return failure_;
    if (!privileged() && !holds(state_.uids, user)) return EPERM;
    const bool wasRoot = holds(state_.uids, 0);
    state_.uids = {user, user, quirks_.savedUidStays ? state_.uids[2] : user};
    if (wasRoot && !holds(state_.uids, 0)) {
      // Leaving root empties every set but the inheritable one.
      state_.permitted = false;
      state_.ambient = false;
    }
    return 0;
  }
  int setUid(uid_t user) override {
    if (privileged()) {
      state_.uids = {user, user, user};
    } else if (quirks_.rootComesBack || state_.uids[0] == user || state_.uids[2] == user) {
      state_.uids[1] = user;
    } else {
      return EPERM;
    }
    return 0;
  }
  int setGid(gid_t group) override {
    if (privileged()) {
      state_.gids = {group, group, group};
    } else if (quirks_.rootGroupComesBack || state_.gids[0] == group || state_.gids[2] == group) {
      state_.gids[1] = group;
    } else {
      return EPERM;
    }
    return 0;
  }

  int holdsCapabilities(bool& holds) const override {
    if (fails("cap_get_proc")) return failure_;
    holds = state_.holdsCapabilities();
    return 0;
  }
  int clearAmbientCapabilities() override {
    if (fails("cap_reset_ambient")) return failure_;
    if (!quirks_.capabilitiesStick) state_.ambient = false;
    return 0;
  }
  int clearCapabilities() override {
    if (fails("cap_set_proc")) return failure_;
    if (!quirks_.capabilitiesStick) state_ = {state_.uids, state_.gids, state_.groups, false, false, false};
    return 0;
  }

 private:
  bool fails(const std::string& call) const { return call == failingCall_; }
  // Root's rights come from the effective id (and the capabilities it
  // brings, which this system does not tell apart).
  bool privileged() const { return state_.uids[1] == 0; }
  static bool holds(const IdTriple& ids, uid_t id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }
  const SimulatedUser* find(auto matches) const {
    const auto found =
        std::find_if(users_.begin(), users_.end(), [&](const SimulatedUser& user) { return matches(user.entry); });
    return found == users_.end() ? nullptr : &*found;
  }

  ProcessState state_;
  std::map<std::string, std::string> environment_;
  std::vector<SimulatedUser> users_;
  std::string failingCall_;
  int failure_;
  Quirks quirks_;
};

const ProcessState kRoot{};
const ProcessState kRootWithInheritable{.inheritable = true};
const ProcessState kSetUserIdRoot{.uids = {1000, 0, 0}, .gids = {1000, 1000, 1000}, .groups = {1000}};
const ProcessState kPlainUser{
    .uids = {1000, 1000, 1000}, .gids = {1000, 1000, 1000}, .groups = {1000, 27}, .permitted = false};
const ProcessState kUserWithFileCapabilities{
    .uids = {1000, 1000, 1000}, .gids = {1000, 1000, 1000}, .groups = {1000, 27}, .permitted = true};
const ProcessState kUserWithAmbient{.uids = {1000, 1000, 1000},
                                    .gids = {1000, 1000, 1000},
                                    .groups = {1000},
                                    .permitted = true,
                                    .inheritable = true,
                                    .ambient = true};

// Root gone for good: every id the target's, no capability left.
ProcessState droppedTo(uid_t uid, gid_t gid, std::vector<gid_t> groups) {
  return {{uid, uid, uid}, {gid, gid, gid}, std::move(groups), false, false, false};
}
ProcessState withoutCapabilities(ProcessState state) {
  state.permitted = state.inheritable = state.ambient = false;
  return state;
}

const SimulatedUser kNobody{{"nobody", 65534, 65534}, {}};
const SimulatedUser kAlice{{"alice", 1234, 1234}, {27, 100}};
const SimulatedUser kBob{{"bob", 1000, 1000}, {}};
const std::vector<SimulatedUser> kUsers{kNobody, kAlice, kBob};
const std::vector<SimulatedUser> kUsersWithoutNobody{kAlice, kBob};

const ProcessState kNobodyDrop = droppedTo(65534, 65534, {65534});

struct DropCase {
  const char* name;
  ProcessState start = kRoot;
  std::map<std::string, std::string> environment;
  std::vector<SimulatedUser> users = kUsers;
  std::string failingCall;
  int failure = EPERM;
  Quirks quirks;
  std::optional<std::string> message;  // nothing: the drop succeeds
  std::optional<ProcessState> end;     // checked when given
  std::string user;                    // -Z: the user named
};

void PrintTo(const DropCase& c, std::ostream* out) { *out << c.name; }

std::string caseName(const auto& info) { return info.param.name; }

class PrivilegeDrop : public ::testing::TestWithParam<DropCase> {};

TEST_P(PrivilegeDrop, EndsInTheExpectedStateOrSaysWhichStepFailed) {
  const DropCase& c = GetParam();
  SimulatedSystem system(c.start, c.environment, c.users, c.failingCall, c.failure, c.quirks);
  EXPECT_EQ(giveUpPrivileges(system, c.user), c.message);
  if (c.end) {
    EXPECT_EQ(system.state(), *c.end);
  }
}

std::map<std::string, std::string> sudo(const char* uid, const char* gid) {
  return {{"SUDO_UID", uid}, {"SUDO_GID", gid}, {"SUDO_USER", "alice"}};
}

INSTANTIATE_TEST_SUITE_P(
    Root, PrivilegeDrop,
    ::testing::Values(
        DropCase{.name = "RootBecomesNobody", .end = kNobodyDrop},
        DropCase{.name = "NobodyIdsComeFromItsPasswdEntry",
                 .users = {{{"nobody", 99, 98}, {500}}},
                 .end = droppedTo(99, 98, {98, 500})},
        DropCase{.name = "NobodyWithoutPasswdEntryIs65534WithNoGroups",
                 .users = kUsersWithoutNobody,
                 .end = droppedTo(65534, 65534, {})},
        DropCase{.name = "SudoUserWithItsGroups",
                 .environment = sudo("1234", "1234"),
                 .end = droppedTo(1234, 1234, {1234, 27, 100})},
        DropCase{.name = "SudoGroupIsTheOneSudoGave",
                 .environment = sudo("1000", "2000"),
                 .end = droppedTo(1000, 2000, {2000})},
        DropCase{.name = "SudoUserWithoutPasswdEntryGetsNoGroups",
                 .environment = sudo("4321", "4322"),
                 .end = droppedTo(4321, 4322, {})},
        DropCase{.name = "SudoIdWithLeadingZeros",
                 .environment = sudo("001234", "01234"),
                 .end = droppedTo(1234, 1234, {1234, 27, 100})},
        DropCase{.name = "LargestSudoIdIsTrusted",
                 .environment = sudo("4294967294", "4294967294"),
                 .end = droppedTo(4294967294U, 4294967294U, {})},
        DropCase{.name = "InheritableCapabilitiesOfRootAreCleared", .start = kRootWithInheritable, .end = kNobodyDrop},
        DropCase{.name = "SetUserIdRootDoesNotBelieveSudoVariables",
                 .start = kSetUserIdRoot,
                 .environment = sudo("1234", "1234"),
                 .end = kNobodyDrop},
        // A saved id of 0 is a way back to root: without the rights of root
        // to give it up, the program stops.
        DropCase{.name = "SavedRootIdAloneIsRoot",
                 .start = {.uids = {1000, 1000, 0}, .gids = {1000, 1000, 1000}, .groups = {1000}},
                 .message = "cannot give up root privileges: initgroups(nobody, 65534): Operation not permitted"}),
    [](const auto& info) { return caseName(info); });

// A SUDO_UID or SUDO_GID that is not a valid non-zero id is not believed.
INSTANTIATE_TEST_SUITE_P(
    UntrustedSudo, PrivilegeDrop,
    ::testing::Values(
        DropCase{.name = "EmptyUid", .environment = sudo("", "1234"), .end = kNobodyDrop},
        DropCase{.name = "ZeroUid", .environment = sudo("0", "1234"), .end = kNobodyDrop},
        DropCase{.name = "ZerosUid", .environment = sudo("000", "1234"), .end = kNobodyDrop},
        DropCase{.name = "LettersUid", .environment = sudo("abc", "1234"), .end = kNobodyDrop},
        DropCase{.name = "TrailingLetterUid", .environment = sudo("12x", "1234"), .end = kNobodyDrop},
        DropCase{.name = "MinusOneUid", .environment = sudo("4294967295", "1234"), .end = kNobodyDrop},
        DropCase{.name = "OverflowUid", .environment = sudo("4294967296", "1234"), .end = kNobodyDrop},
        DropCase{.name = "HugeUid", .environment = sudo("99999999999999999999999", "1234"), .end = kNobodyDrop},
        DropCase{.name = "NegativeUid", .environment = sudo("-1234", "1234"), .end = kNobodyDrop},
        DropCase{.name = "PlusSignUid", .environment = sudo("+1234", "1234"), .end = kNobodyDrop},
        DropCase{.name = "LeadingSpaceUid", .environment = sudo(" 1234", "1234"), .end = kNobodyDrop},
        DropCase{.name = "TrailingSpaceUid", .environment = sudo("1234 ", "1234"), .end = kNobodyDrop},
        DropCase{.name = "ZeroGid", .environment = sudo("1234", "0"), .end = kNobodyDrop},
        DropCase{.name = "LettersGid", .environment = sudo("1234", "x"), .end = kNobodyDrop},
        DropCase{.name = "OverflowGid", .environment = sudo("1234", "4294967296"), .end = kNobodyDrop},
        DropCase{.name = "MissingGid", .environment = {{"SUDO_UID", "1234"}}, .end = kNobodyDrop},
        DropCase{.name = "MissingUid", .environment = {{"SUDO_GID", "1234"}}, .end = kNobodyDrop}),
    [](const auto& info) { return caseName(info); });

const std::string kRootFailure = "cannot give up root privileges: ";
const std::string kCapabilityFailure = "cannot give up capabilities: ";

// -Z: the user named wins over sudo's; root named keeps root, as tcpdump
// does; no one but root becomes another user.
INSTANTIATE_TEST_SUITE_P(
    NamedUser, PrivilegeDrop,
    ::testing::Values(DropCase{.name = "NamedOverSudo",
                               .environment = sudo("1000", "1000"),
                               .end = droppedTo(1234, 1234, {1234, 27, 100}),
                               .user = "alice"},
                      DropCase{.name = "RootKeepsRoot", .users = {{{"root", 0, 0}, {}}}, .end = kRoot, .user = "root"},
                      DropCase{.name = "Unknown",
                               .message = kRootFailure + "-Z: no user named 'mallory'",
                               .end = kRoot,
                               .user = "mallory"},
                      DropCase{.name = "UserBecomesNoOneElse",
                               .start = kUserWithFileCapabilities,
                               .message = kCapabilityFailure + "-Z alice: only root can become another user",
                               .user = "alice"},
                      DropCase{.name = "UserNamingItself",
                               .start = kUserWithFileCapabilities,
                               .end = withoutCapabilities(kUserWithFileCapabilities),
                               .user = "bob"}),
    [](const auto& info) { return caseName(info); });

// Each step of root's drop failing in turn, with the system's reason.
INSTANTIATE_TEST_SUITE_P(
    RootFailures, PrivilegeDrop,
    ::testing::Values(DropCase{.name = "GetResUid",
                               .failingCall = "getresuid",
                               .failure = EFAULT,
                               .message = kRootFailure + "getresuid: Bad address",
                               .end = kRoot},
                      DropCase{.name = "InitGroups",
                               .failingCall = "initgroups",
                               .message = kRootFailure + "initgroups(nobody, 65534): Operation not permitted",
                               .end = kRoot},
                      DropCase{.name = "InitGroupsOfSudoUser",
                               .environment = sudo("1234", "1234"),
                               .failingCall = "initgroups",
                               .failure = ENOMEM,
                               .message = kRootFailure + "initgroups(alice, 1234): Cannot allocate memory"},
                      DropCase{.name = "SetGroups",
                               .users = kUsersWithoutNobody,
                               .failingCall = "setgroups",
                               .message = kRootFailure + "setgroups(none): Operation not permitted",
                               .end = kRoot},
                      DropCase{.name = "SetResGid",
                               .failingCall = "setresgid",
                               .failure = EINVAL,
                               .message = kRootFailure + "setresgid(65534): Invalid argument",
                               .end = ProcessState{.groups = {65534}}},
                      DropCase{.name = "SetResUid",
                               .failingCall = "setresuid",
                               .failure = EAGAIN,
                               .message = kRootFailure + "setresuid(65534): Resource temporarily unavailable",
                               .end = ProcessState{.gids = {65534, 65534, 65534}, .groups = {65534}}},
                      DropCase{.name = "SetResUidOfSudoUser",
                               .environment = sudo("1234", "1234"),
                               .failingCall = "setresuid",
                               .message = kRootFailure + "setresuid(1234): Operation not permitted"},
                      DropCase{.name = "ClearAmbient",
                               .failingCall = "cap_reset_ambient",
                               .failure = EINVAL,
                               .message = kRootFailure + "cap_reset_ambient: Invalid argument"},
                      DropCase{.name = "ClearCapabilities",
                               .start = kRootWithInheritable,
                               .failingCall = "cap_set_proc",
                               .message = kRootFailure + "cap_set_proc: Operation not permitted"},
                      DropCase{.name = "GetResGid",
                               .failingCall = "getresgid",
                               .failure = EFAULT,
                               .message = kRootFailure + "getresgid: Bad address"},
                      DropCase{.name = "ReadCapabilities",
                               .failingCall = "cap_get_proc",
                               .failure = ENOMEM,
                               .message = kRootFailure + "cap_get_proc: Cannot allocate memory"},
                      DropCase{.name = "SavedUidStaysRoot",
                               .quirks = {.savedUidStays = true},
                               .message = kRootFailure + "getresuid shows 65534, 65534, 0, not 65534"},
                      DropCase{.name = "SavedGidStaysRoot",
                               .quirks = {.savedGidStays = true},
                               .message = kRootFailure + "getresgid shows 65534, 65534, 0, not 65534"},
                      DropCase{.name = "RootComesBack",
                               .quirks = {.rootComesBack = true},
                               .message = kRootFailure + "setuid(0) still succeeds"},
                      DropCase{.name = "RootGroupComesBack",
                               .quirks = {.rootGroupComesBack = true},
                               .message = kRootFailure + "setgid(0) still succeeds"},
                      DropCase{.name = "InheritableCapabilitiesStick",
                               .start = kRootWithInheritable,
                               .quirks = {.capabilitiesStick = true},
                               .message = kRootFailure + "capabilities are still held after cap_set_proc"}),
    [](const auto& info) { return caseName(info); });

// A user other than root: capabilities from the file (or inherited ambient
// ones) are cleared; a plain user has nothing to give up.
INSTANTIATE_TEST_SUITE_P(
    User, PrivilegeDrop,
    ::testing::Values(DropCase{.name = "PlainUserKeepsEverything", .start = kPlainUser, .end = kPlainUser},
                      DropCase{.name = "PlainUserIgnoresSudoVariables",
                               .start = kPlainUser,
                               .environment = sudo("1234", "1234"),
                               .end = kPlainUser},
                      DropCase{.name = "FileCapabilitiesAreCleared",
                               .start = kUserWithFileCapabilities,
                               .end = withoutCapabilities(kUserWithFileCapabilities)},
                      DropCase{.name = "AmbientCapabilitiesAreCleared",
                               .start = kUserWithAmbient,
                               .end = withoutCapabilities(kUserWithAmbient)},
                      DropCase{.name = "ReadCapabilities",
                               .start = kUserWithFileCapabilities,
                               .failingCall = "cap_get_proc",
                               .failure = ENOMEM,
                               .message = kCapabilityFailure + "cap_get_proc: Cannot allocate memory",
                               .end = kUserWithFileCapabilities},
                      DropCase{.name = "ClearAmbient",
                               .start = kUserWithAmbient,
                               .failingCall = "cap_reset_ambient",
                               .failure = EINVAL,
                               .message = kCapabilityFailure + "cap_reset_ambient: Invalid argument"},
                      DropCase{.name = "ClearCapabilities",
                               .start = kUserWithFileCapabilities,
                               .failingCall = "cap_set_proc",
                               .message = kCapabilityFailure + "cap_set_proc: Operation not permitted",
                               .end = kUserWithFileCapabilities},
                      DropCase{.name = "CapabilitiesStick",
                               .start = kUserWithFileCapabilities,
                               .quirks = {.capabilitiesStick = true},
                               .message = kCapabilityFailure + "capabilities are still held after cap_set_proc"},
                      DropCase{.name = "PlainUserNeverTouchesCapabilities",
                               .start = kPlainUser,
                               .failingCall = "cap_set_proc",
                               .end = kPlainUser}),
    [](const auto& info) { return caseName(info); });

// What the program prints: one line on the error stream, or nothing.
struct ReportCase {
  const char* name;
  ProcessState start;
  std::string failingCall;
  bool goesOn;
  std::string printed;
};

void PrintTo(const ReportCase& c, std::ostream* out) { *out << c.name; }

class PrivilegeReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(PrivilegeReport, PrintsOneLineOnlyWhenItMustStop) {
  const ReportCase& c = GetParam();
  SimulatedSystem system(c.start, {}, kUsers, c.failingCall, EPERM, {});
  char* text = nullptr;
  size_t size = 0;
  FILE* errors = open_memstream(&text, &size);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(giveUpPrivilegesOrSay(system, errors), c.goesOn);
  static_cast<void>(std::fclose(errors));
  EXPECT_EQ(std::string(text, size), c.printed);
  std::free(text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PrivilegeReport,
    ::testing::Values(ReportCase{"RootDropped", kRoot, "", true, ""}, ReportCase{"PlainUser", kPlainUser, "", true, ""},
                      ReportCase{
                          "RootKept", kRoot, "setresuid", false,
                          "vestrel: cannot give up root privileges: setresuid(65534): Operation not permitted\n"},
                      ReportCase{"CapabilitiesKept", kUserWithFileCapabilities, "cap_set_proc", false,
                                 "vestrel: cannot give up capabilities: cap_set_proc: Operation not permitted\n"}),
    [](const auto& info) { return caseName(info); });

}  // namespace
}  // namespace vestrel
