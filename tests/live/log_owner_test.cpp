// The log under sudo: made by root for the user who ran sudo, so it must be
// that user's file, and a link planted in its place must lead nowhere that
// user could not write.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_files.h"
#include "live_fixture.h"

namespace vestrel::live {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kSudoUser = 4321;
constexpr gid_t kSudoGroup = 4322;

// Root in a namespace of its own (made by the fixture) runs the program as
// sudo would, in a directory that belongs to the sudo user.
class LogUnderSudoTest : public PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The user must be able to reach its directory.
    fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_TRUE(fs::create_directory(userDirectory_));
    ASSERT_EQ(chown(userDirectory_.c_str(), kSudoUser, kSudoGroup), 0);
  }

  // The option scan opens the log, and -h ends the program right after.
  ProcessResult runWithLog(const fs::path& log) {
    test::ChildSetup sudo;
    sudo.environment = {{"SUDO_UID", std::to_string(kSudoUser)}, {"SUDO_GID", std::to_string(kSudoGroup)}};
    return VestrelProcess::run({"-l", log.string(), "-h"}, Millis(5000), sudo);
  }

  test::ScratchDirectory scratch_;
  fs::path userDirectory_ = scratch_.path() / "user";
};

TEST_F(LogUnderSudoTest, BelongsToTheUserWhoRanSudo) {
  const fs::path log = userDirectory_ / "traffic.log";
  const ProcessResult result = runWithLog(log);
  EXPECT_TRUE(result.output.starts_with("Usage: ")) << result.output;
  struct stat status {};
  ASSERT_EQ(stat(log.c_str(), &status), 0) << "the log was not created";
  EXPECT_EQ(status.st_uid, kSudoUser);
  EXPECT_EQ(status.st_gid, kSudoGroup);
}

TEST_F(LogUnderSudoTest, LinkToAFileTheUserCannotWriteIsRefused) {
  const fs::path target = scratch_.path() / "root-only";
  std::ofstream(target) << "keep me\n";
  fs::permissions(target,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  const fs::path link = userDirectory_ / "traffic.log";
  fs::create_symlink(target, link);
  const ProcessResult result = runWithLog(link);
  EXPECT_TRUE(result.output.starts_with("Error: Unable to open file " + link.string() + " for logging.\n"))
      << result.output;
  EXPECT_EQ(test::readFile(target), "keep me\n");
}

}  // namespace
}  // namespace vestrel::live
