// The entry points a new user runs first: `make run` builds only the
// programs it runs, and the package installer waits for another package
// manager's lock instead of failing.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/system_tools.h"

namespace vestrel::package {
namespace {

const std::string kSourceDir = VESTREL_SOURCE_DIR;

// The `cmake --build` lines `make -n GOAL` would run.
std::vector<std::string> buildCommands(const std::string& goal) {
  const ScratchDirectory buildDir;
  const ChildResult planned = runTool("make", {"-n", "-C", kSourceDir, goal, "BUILD_DIR=" + buildDir.path().string()});
  EXPECT_EQ(planned.status, "exit 0") << planned.errors;
  std::vector<std::string> commands;
  for (const std::string& line : splitLines(planned.output)) {
    if (line.find("cmake --build") != std::string::npos) commands.push_back(line);
  }
  return commands;
}

TEST(MakeGoals, RunBuildsOnlyTheProgramsAndTestBuildsEverything) {
  const std::vector<std::string> run = buildCommands("run");
  ASSERT_EQ(run.size(), 1U);
  EXPECT_TRUE(run[0].ends_with("--target vestrel vestrel-trace")) << run[0];

  const std::vector<std::string> test = buildCommands("test");
  ASSERT_EQ(test.size(), 1U);
  EXPECT_EQ(test[0].find("--target"), std::string::npos) << test[0];
}

// Stand-ins on PATH: every package missing, root, no real waiting, and an
// apt-get that logs its arguments and finds the lists locked the first
// LOCKED times it is asked to update them.
void writeStandIns(const std::filesystem::path& dir) {
  const std::pair<const char*, const char*> programs[] = {
      {"dpkg-query", "exit 1\n"},
      {"id", "echo 0\n"},
      {"sleep", "exit 0\n"},
      {"apt-get",
       "echo \"$*\" >> \"$CALLS\"\n"
       "case \"$*\" in *update*) ;; *) exit 0 ;; esac\n"
       "[ \"$(grep -c update \"$CALLS\")\" -gt \"$LOCKED\" ] && exit 0\n"
       "echo 'E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1 (apt)' >&2\n"
       "exit 100\n"},
  };
  for (const auto& [name, body] : programs) {
    const std::filesystem::path path = dir / name;
    test::writeFile(path, std::string("#!/bin/sh\n") + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
}

struct LockCase {
  int lockedUpdates;
  const char* status;
  int updates;  // tries the script makes
  bool installs;
};

void PrintTo(const LockCase& row, std::ostream* out) { *out << row.lockedUpdates << " locked updates"; }

class PackageInstaller : public ::testing::TestWithParam<LockCase> {};

TEST_P(PackageInstaller, WaitsForTheLocksOfAnotherPackageManager) {
  const ScratchDirectory scratch;
  writeStandIns(scratch.path());
  const std::string calls = (scratch / "calls").string();
  const ChildResult result = runTool(kSourceDir + "/scripts/install-deps.sh", {"build"},
                                     {"PATH=" + scratch.path().string() + ":/usr/bin:/bin", "CALLS=" + calls,
                                      "LOCKED=" + std::to_string(GetParam().lockedUpdates)});
  EXPECT_EQ(result.status, GetParam().status) << result.errors;

  const std::vector<std::string> lines = splitLines(readFile(calls));
  const auto isUpdate = [](const std::string& line) { return line.find(" update ") != std::string::npos; };
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), isUpdate), GetParam().updates);
  EXPECT_EQ(!lines.empty() && lines.back().find(" install ") != std::string::npos, GetParam().installs);
  for (const std::string& line : lines) EXPECT_TRUE(line.starts_with("-o DPkg::Lock::Timeout=300 ")) << line;
}

// Five minutes in steps of five seconds, then it gives up.
INSTANTIATE_TEST_SUITE_P(Locks, PackageInstaller,
                         ::testing::Values(LockCase{0, "exit 0", 1, true}, LockCase{2, "exit 0", 3, true},
                                           LockCase{1000, "exit 1", 61, false}));

}  // namespace
}  // namespace vestrel::package
