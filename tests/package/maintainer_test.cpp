// Who the Debian package names as its maintainer: cmake/Maintainer.cmake
// configured alone in a scratch project, with the configure option, the
// environment and git's settings each given or not.
#include <gtest/gtest.h>

#include "package/system_tools.h"

namespace vestrel::package {
namespace {

const std::string kSourceDir = VESTREL_SOURCE_DIR;
constexpr char kPlaceholder[] = "Vestrel developers <vestrel@localhost>";

struct MaintainerCase {
  const char* name;
  const char* option;      // -DVESTREL_MAINTAINER, when not empty
  const char* fullName;    // DEBFULLNAME
  const char* email;       // DEBEMAIL
  const char* gitSetting;  // the [user] lines of git's settings
  const char* expected;
};

void PrintTo(const MaintainerCase& row, std::ostream* out) { *out << row.name; }

constexpr char kGitUser[] = "name = Cy Git\nemail = cy@example.org\n";

const MaintainerCase kMaintainerCases[] = {
    {"OptionFirst", "Ann Option <ann@example.org>", "Bo Debian", "bo@example.org", kGitUser,
     "Ann Option <ann@example.org>"},
    {"DebianNextAfterTheOption", "", "Bo Debian", "bo@example.org", kGitUser, "Bo Debian <bo@example.org>"},
    {"DebianEmailWithItsName", "", "", "Di Debian <di@example.org>", kGitUser, "Di Debian <di@example.org>"},
    {"DebianNameOverEmailName", "", "Bo Debian", "Di Debian <di@example.org>", kGitUser, "Bo Debian <di@example.org>"},
    {"GitWithoutDebianEmail", "", "Bo Debian", "", kGitUser, "Cy Git <cy@example.org>"},
    {"PlaceholderLast", "", "", "", "", kPlaceholder},
};

class PackageMaintainer : public ::testing::TestWithParam<MaintainerCase> {};

TEST_P(PackageMaintainer, IsTheFirstOneSet) {
  const MaintainerCase& row = GetParam();
  if (*row.gitSetting != '\0' && std::string(row.expected).starts_with("Cy Git") && !test::findProgram("git")) {
    GTEST_SKIP() << "git is not installed";
  }
  const ScratchDirectory scratch;
  test::writeFile(scratch / "CMakeLists.txt", "cmake_minimum_required(VERSION 3.20)\nproject(probe NONE)\ninclude(" +
                                                  kSourceDir + "/cmake/Maintainer.cmake)\nfile(WRITE " +
                                                  (scratch / "maintainer").string() +
                                                  " \"${VESTREL_PACKAGE_MAINTAINER}\")\n");
  test::writeFile(scratch / ".gitconfig", std::string("[user]\n") + row.gitSetting);
  std::vector<std::string> arguments{"-S", scratch.path().string(), "-B", (scratch / "build").string()};
  if (*row.option != '\0') arguments.push_back(std::string("-DVESTREL_MAINTAINER=") + row.option);
  // git reads only the scratch settings: HOME's, no system ones.
  const ChildResult configured =
      runTool("cmake", arguments,
              {"HOME=" + scratch.path().string(), "XDG_CONFIG_HOME=" + scratch.path().string(), "GIT_CONFIG_NOSYSTEM=1",
               std::string("DEBFULLNAME=") + row.fullName, std::string("DEBEMAIL=") + row.email});
  ASSERT_EQ(configured.status, "exit 0") << configured.errors;
  EXPECT_EQ(readFile(scratch / "maintainer"), row.expected);
  const bool warned = configured.errors.find("placeholder maintainer") != std::string::npos;
  EXPECT_EQ(warned, std::string(row.expected) == kPlaceholder) << configured.errors;
}

INSTANTIATE_TEST_SUITE_P(Sources, PackageMaintainer, ::testing::ValuesIn(kMaintainerCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vestrel::package
