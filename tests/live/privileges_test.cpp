// The program started with privileges gives them up before its banner and
// still decodes what it captures; one that cannot give them up stops. The
// running program's credentials are read from /proc.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "common/child_process.h"
#include "hex_dump.h"
#include "live_fixture.h"
#include "private_network.h"

namespace vestrel::live {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobodyId = 65534;
constexpr char kNoCapabilities[] = "0000000000000000";
constexpr char kAnyDevice[] = "Pseudo-device that captures on all interfaces";
constexpr Millis kRunTimeout{5000};
constexpr int kMaxGroups = 256;

// The "Name:\tvalue" lines of /proc/PID/status, each value without the
// white space around it.
std::map<std::string, std::string> processStatus(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::map<std::string, std::string> fields;
  std::string line;
  while (std::getline(status, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t first = line.find_first_not_of(" \t", colon + 1);
    const size_t last = line.find_last_not_of(" \t");
    fields[line.substr(0, colon)] = first == std::string::npos ? "" : line.substr(first, last + 1 - first);
  }
  return fields;
}

// The Uid and Gid lines: real, effective, saved and file system id.
std::string fourTimes(unsigned id) {
  const std::string text = std::to_string(id);
  return text + "\t" + text + "\t" + text + "\t" + text;
}

std::vector<gid_t> sortedGroups(std::vector<gid_t> groups) {
  std::sort(groups.begin(), groups.end());
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  return groups;
}

std::vector<gid_t> parseGroups(const std::string& text) {
  std::istringstream numbers(text);
  std::vector<gid_t> groups;
  gid_t group = 0;
  while (numbers >> group) groups.push_back(group);
  return sortedGroups(groups);
}

// What initgroups gives the user: the group and those the group file makes
// the user a member of.
std::vector<gid_t> groupsOf(const char* userName, gid_t group) {
  std::vector<gid_t> groups(kMaxGroups);
  int count = kMaxGroups;
  if (getgrouplist(userName, group, groups.data(), &count) < 0) return {};
  groups.resize(static_cast<size_t>(count));
  return sortedGroups(groups);
}

struct Identity {
  uid_t uid;
  gid_t gid;
  std::vector<gid_t> groups;
};

struct UserRecord {
  std::string name;
  gid_t gid = 0;
  uid_t uid = 0;
};

// A passwd entry, by name or by id; nothing when there is none.
template <typename Key, typename Lookup>
std::optional<UserRecord> findUser(Key key, Lookup lookup) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> strings(16384);
  if (lookup(key, &entry, strings.data(), strings.size(), &found) != 0 || found == nullptr) return std::nullopt;
  return UserRecord{entry.pw_name, entry.pw_gid, entry.pw_uid};
}

std::optional<UserRecord> userNamed(const char* name) { return findUser(name, getpwnam_r); }

// nobody as the program finds it.
Identity nobody() {
  const std::optional<UserRecord> entry = userNamed("nobody");
  if (!entry) return {kNobodyId, kNobodyId, {}};
  return {entry->uid, entry->gid, groupsOf("nobody", entry->gid)};
}

// The user that ran sudo, by the ids sudo gives.
Identity sudoUser(uid_t uid, gid_t gid) {
  const std::optional<UserRecord> entry = findUser(uid, getpwuid_r);
  return {uid, gid, entry ? groupsOf(entry->name.c_str(), gid) : std::vector<gid_t>{}};
}

// No SUDO_ variables unless a case sets them.
test::ChildSetup withSudoIds(std::optional<std::string> uid, std::optional<std::string> gid) {
  test::ChildSetup setup;
  setup.environment = {{"SUDO_UID", std::move(uid)}, {"SUDO_GID", std::move(gid)}, {"SUDO_USER", std::nullopt}};
  return setup;
}

class DroppedPrivilegesTest : public LiveCaptureTest {
 protected:
  // The banner (which SetUp waited for) comes after the drop.
  void expectRunningAs(const Identity& who) {
    std::map<std::string, std::string> status = processStatus(vestrel_.pid());
    EXPECT_EQ(status["Uid"], fourTimes(who.uid));
    EXPECT_EQ(status["Gid"], fourTimes(who.gid));
    EXPECT_EQ(parseGroups(status["Groups"]), who.groups) << "Groups: " << status["Groups"];
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) EXPECT_EQ(status[set], kNoCapabilities) << set;
  }

  // What the open capture takes after the drop is still decoded.
  void expectCapturing() {
    ChatConnection chat = connect();
    chat.clientSends(ping(7));
    chat.serverSends(ping(8));
    expectLines(sentLine(0x25, "SID_PING", pingDetails(7)) + rcvdLine(0x25, "SID_PING", pingDetails(8)));
  }
};

class RootWithoutSudoTest : public DroppedPrivilegesTest {
 protected:
  test::ChildSetup childSetup() const override { return withSudoIds(std::nullopt, std::nullopt); }
};

TEST_F(RootWithoutSudoTest, BecomesNobodyAndStillDecodes) {
  expectRunningAs(nobody());
  expectCapturing();
}

class RootViaSudoTest : public DroppedPrivilegesTest {
 protected:
  test::ChildSetup childSetup() const override { return withSudoIds("1234", "1234"); }
};

TEST_F(RootViaSudoTest, BecomesTheUserThatRanSudoAndStillDecodes) {
  expectRunningAs(sudoUser(1234, 1234));
  expectCapturing();
}

// A SUDO_UID of 0 would keep root: nobody it is.
class RootViaSudoFromRootTest : public DroppedPrivilegesTest {
 protected:
  test::ChildSetup childSetup() const override { return withSudoIds("0", "0"); }
};

TEST_F(RootViaSudoFromRootTest, BecomesNobody) { expectRunningAs(nobody()); }

// The log is opened before the drop, as the user who ran sudo would open
// it, and written after it.
class LogAfterDropTest : public DroppedPrivilegesTest {
 protected:
  void SetUp() override {
    fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_TRUE(fs::create_directory(logDirectory_));
    ASSERT_EQ(chown(logDirectory_.c_str(), 1234, 1234), 0);
    DroppedPrivilegesTest::SetUp();
  }
  std::vector<std::string> captureOptions() const override { return {"-l", logPath_.string()}; }
  test::ChildSetup childSetup() const override { return withSudoIds("1234", "1234"); }

  ScratchDirectory scratch_;
  fs::path logDirectory_ = scratch_.path() / "logs";
  fs::path logPath_ = logDirectory_ / "traffic.log";
};

TEST_F(LogAfterDropTest, KeepsWritingTheLogOpenedBeforeTheDrop) {
  expectRunningAs(sudoUser(1234, 1234));
  ChatConnection chat = connect();
  chat.clientSends(ping(3));
  expectLinesAndLog(sentLine(0x25, "SID_PING", pingDetails(3)), logPath_,
                    hexDump(Side::Client, ping(3)) + hexDump(Side::Client, endMark()));
}

// A copy of the program with the capture capabilities in its file, run as
// nobody (switched to in the child, inside the test's network).
class FileCapabilitiesTest : public DroppedPrivilegesTest {
 protected:
  void SetUp() override {
    const auto setcap = test::findProgram("setcap");
    if (!setcap) {
      if (liveCaptureRequired()) FAIL() << "VESTREL_REQUIRE_LIVE=1 but setcap (libcap2-bin) is missing";
      GTEST_SKIP() << "setcap (libcap2-bin) is missing";
    }
    // nobody must reach the copy.
    fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(vestrelBinary(), binary_);
    const test::ChildResult result =
        test::ChildProcess::run(*setcap, {"cap_net_raw,cap_net_admin+ep", binary_.string()}, "/dev/null", kRunTimeout);
    ASSERT_EQ(result.status, "exit 0") << result.errors;
    DroppedPrivilegesTest::SetUp();
  }
  test::ChildSetup childSetup() const override {
    test::ChildSetup setup = withSudoIds(std::nullopt, std::nullopt);
    setup.runAs = test::ChildSetup::User{kNobodyId, kNobodyId};
    return setup;
  }
  std::string binaryToRun() const override { return binary_.string(); }

  ScratchDirectory scratch_;
  fs::path binary_ = scratch_.path() / "vestrel";
};

// Without the capabilities it could not have opened the device at all.
TEST_F(FileCapabilitiesTest, CapturesAsAPlainUserAndClearsItsCapabilities) {
  expectRunningAs({kNobodyId, kNobodyId, {}});
  expectCapturing();
}

// The cases need a child that can be root in a user namespace of its own.
class PrivilegeFailureTest : public PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto problem = test::confinedRootProblem();
    if (!problem) return;
    if (liveCaptureRequired()) FAIL() << "VESTREL_REQUIRE_LIVE=1 but the test " << *problem;
    GTEST_SKIP() << "the test " << *problem;
  }
};

// Root in a user namespace where no other id exists cannot become anyone
// else: the program says which step failed and captures nothing.
TEST_F(PrivilegeFailureTest, RootThatCannotChangeItsIdsStopsWithStatus1) {
  // The child's network of its own lists "any" where the test's does.
  const auto number = findDeviceNumber(kAnyDevice);
  ASSERT_TRUE(number);
  test::ChildSetup setup = withSudoIds(std::nullopt, std::nullopt);
  setup.confinedRoot = true;
  const test::ChildResult result =
      test::ChildProcess::run(vestrelBinary(), {"-i", std::to_string(*number)}, "/dev/null", kRunTimeout, setup);
  const std::optional<UserRecord> entry = userNamed("nobody");
  const std::string step = entry ? "initgroups(nobody, " + std::to_string(entry->gid) + ")" : "setgroups(none)";
  EXPECT_EQ(result.errors, "vestrel: cannot give up root privileges: " + step + ": Operation not permitted\n");
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.status, "exit 1");
}

}  // namespace
}  // namespace vestrel::live
