// The Debian package and `cmake --install`, built from this build tree into
// scratch directories: control fields, the files shipped, and the installed
// programs run from there print what the build's programs print.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "package/system_tools.h"

namespace vestrel::package {
namespace {

const std::string kBuildDir = VESTREL_BUILD_DIR;
const std::string kSourceDir = VESTREL_SOURCE_DIR;
const std::string kVersion = VESTREL_PROJECT_VERSION;
const std::string kBuiltMonitor = VESTREL_BINARY;
const std::string kBuiltTrace = VESTREL_TRACE_BINARY;
const std::string kSample = kSourceDir + "/samples/chat-session.pcap";
const std::string kGoldenConsole = kSourceDir + "/tests/read/golden/chat-session.txt";

// Every regular file under root, as paths relative to it.
std::set<std::string> filesUnder(const std::filesystem::path& root) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.insert(std::filesystem::relative(entry.path(), root).string());
  }
  return files;
}

const std::set<std::string> kInstalledFiles = {
    "usr/bin/vestrel",
    "usr/bin/vestrel-trace",
    "usr/share/bash-completion/completions/vestrel-trace",
    "usr/share/doc/vestrel/copyright",
    "usr/share/doc/vestrel/vestrel-trace.schema.json",
    "usr/share/man/man1/vestrel.1.gz",
    "usr/share/man/man1/vestrel-trace.1.gz",
};

// "Field: value" lines of a control file; continuation lines are left out.
std::map<std::string, std::string> controlFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : splitLines(text)) {
    const size_t colon = line.find(": ");
    if (line.empty() || line[0] == ' ' || colon == std::string::npos) continue;
    fields[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return fields;
}

void expectSuccess(const ChildResult& result, const std::string& what) {
  EXPECT_EQ(result.status, "exit 0") << what << ": " << result.errors.substr(0, 2000);
}

// The installed manual pages are the sources, gzipped.
void expectManualPages(const std::filesystem::path& root) {
  for (const std::string page : {"vestrel.1", "vestrel-trace.1"}) {
    const ChildResult unpacked = runTool("gzip", {"-dc", (root / "usr/share/man/man1" / (page + ".gz")).string()});
    expectSuccess(unpacked, page);
    EXPECT_EQ(unpacked.output, readFile(std::filesystem::path(kSourceDir) / "man" / page)) << page;
  }
}

// Debian's machine-readable copyright file: its licence is LICENSE's text
// (from the permission on), each line indented by a blank, " ." for an
// empty line.
void expectCopyright(const std::filesystem::path& root) {
  const std::vector<std::string> lines = splitLines(readFile(root / "usr/share/doc/vestrel/copyright"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/");
  const auto license = std::find(lines.begin(), lines.end(), "License: Expat");
  ASSERT_NE(license, lines.end());
  EXPECT_NE(std::find(lines.begin(), license, "Copyright: 2026 The Vestrel developers"), license);
  EXPECT_NE(
      std::find_if(lines.begin(), license, [](const auto& line) { return line.find("MIT") != std::string::npos; }),
      license);
  std::string text;
  for (auto line = std::next(license); line != lines.end(); ++line)
    text += (*line == " ." ? "" : line->substr(1)) + "\n";
  const std::string source = readFile(std::filesystem::path(kSourceDir) / "LICENSE");
  EXPECT_TRUE(source.starts_with("MIT License\n"));
  EXPECT_EQ(text, source.substr(source.find("Permission is hereby granted")));
}

// The installed programs work from where they were put and print what the
// build's programs print.
void expectWorkingPrograms(const std::filesystem::path& root) {
  const ChildResult version = runTool((root / "usr/bin/vestrel").string(), {"-v"});
  expectSuccess(version, "vestrel -v");
  EXPECT_EQ(version.output, runTool(kBuiltMonitor, {"-v"}).output);

  const ChildResult decoded = runTool((root / "usr/bin/vestrel-trace").string(), {"-r", kSample});
  expectSuccess(decoded, "vestrel-trace");
  EXPECT_EQ(decoded.errors, runTool(kBuiltTrace, {"-r", kSample}).errors);
  EXPECT_EQ(decoded.output, readFile(kGoldenConsole));
}

// What the installed completion offers for the words typed, the last one
// being completed, one a line.
std::string completions(const std::filesystem::path& root, const std::vector<std::string>& words) {
  // bash -c SCRIPT bash COMPLETION PROGRAM WORD...: the function as bash
  // calls it, with the program, the word completed and the one before it.
  const std::string script =
      "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1));"
      " _vestrel_trace \"$1\" \"${@: -1}\" \"${@: -2:1}\"; printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::vector<std::string> arguments = {"-c", script, "bash",
                                        (root / "usr/share/bash-completion/completions/vestrel-trace").string(),
                                        (root / "usr/bin/vestrel-trace").string()};
  arguments.insert(arguments.end(), words.begin(), words.end());
  const ChildResult result = runTool("bash", arguments);
  EXPECT_EQ(result.status, "exit 0") << result.errors;
  return result.output;
}

// The options --help names, those after "-" on a line's start or in
// parentheses, one a line.
std::string helpOptions(const std::filesystem::path& root) {
  const std::string help = runTool((root / "usr/bin/vestrel-trace").string(), {"--help"}).output;
  static const std::regex kOption("\n  (-[-A-Za-z]+)|\\((--[a-z-]+)\\)");
  std::string options;
  std::set<std::string> seen;
  for (auto match = std::sregex_iterator(help.begin(), help.end(), kOption); match != std::sregex_iterator(); ++match) {
    const std::string option = (*match)[1].matched ? (*match)[1].str() : (*match)[2].str();
    if (seen.insert(option).second) options += option + "\n";
  }
  return options;
}

// The completion offers the options of --help, the devices of -D, and -Y's
// keys and message names inside the expression typed so far.
void expectCompletion(const std::filesystem::path& root) {
  EXPECT_EQ(completions(root, {"-"}), helpOptions(root));
  EXPECT_EQ(completions(root, {"--js"}), "--json\n");
  EXPECT_EQ(completions(root, {"-Y", "name == SID_CHATC"}), "name == SID_CHATCOMMAND\n");
  EXPECT_EQ(completions(root, {"-r", "x", "-Y", "text contains \"a\" and (usern"}),
            "text contains \"a\" and (username\n");
  const std::string devices = runTool((root / "usr/bin/vestrel-trace").string(), {"-D"}).output;
  if (const size_t dot = devices.find('.'); dot != std::string::npos) {
    const std::string first = devices.substr(dot + 1, devices.find_first_of(" \n", dot) - dot - 1);
    EXPECT_TRUE(completions(root, {"-i", ""}).starts_with(first + "\n")) << devices;
  }
}

class DebianPackage : public ::testing::Test {
 protected:
  // One package for all cases of the suite: building it takes seconds.
  static void SetUpTestSuite() {
    scratch_ = std::make_unique<ScratchDirectory>();
    const ChildResult built =
        runTool("cpack", {"-G", "DEB", "--config", kBuildDir + "/CPackConfig.cmake", "-B", scratch_->path().string()});
    buildLog_ = built.status + "\n" + built.output + built.errors;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_->path())) {
      if (entry.path().extension() == ".deb") debs_.push_back(entry.path());
    }
  }
  static void TearDownTestSuite() { scratch_.reset(); }

  void SetUp() override { ASSERT_EQ(debs_.size(), 1U) << buildLog_.substr(0, 3000); }
  const std::filesystem::path& deb() const { return debs_.front(); }

  static std::unique_ptr<ScratchDirectory> scratch_;
  static std::string buildLog_;
  static std::vector<std::filesystem::path> debs_;
};

std::unique_ptr<ScratchDirectory> DebianPackage::scratch_;
std::string DebianPackage::buildLog_;
std::vector<std::filesystem::path> DebianPackage::debs_;

TEST_F(DebianPackage, ControlFieldsNameTheProjectAndItsLibraries) {
  const ChildResult control = runTool("dpkg-deb", {"-f", deb().string()});
  expectSuccess(control, "dpkg-deb -f");
  auto fields = controlFields(control.output);
  const std::string architecture = runTool("dpkg", {"--print-architecture"}).output;

  EXPECT_EQ(fields["Package"], "vestrel");
  EXPECT_EQ(fields["Version"], kVersion);
  EXPECT_EQ(fields["Section"], "net");
  EXPECT_EQ(fields["Architecture"] + "\n", architecture);
  EXPECT_EQ(deb().filename().string(), "vestrel_" + kVersion + "_" + fields["Architecture"] + ".deb");
  EXPECT_EQ(fields["Maintainer"], VESTREL_PACKAGE_MAINTAINER);
  EXPECT_NE(fields["Description"].find("6112"), std::string::npos) << fields["Description"];
  // Computed by dpkg-shlibdeps from the programs, so it names the capture
  // library's package with a version.
  const std::string& depends = fields["Depends"];
  EXPECT_NE(depends.find("libpcap"), std::string::npos) << depends;
  EXPECT_NE(depends.find("libc6 (>="), std::string::npos) << depends;
}

TEST_F(DebianPackage, ShipsTheProgramsAndManualPagesThatWork) {
  const ScratchDirectory root;
  expectSuccess(runTool("dpkg-deb", {"-x", deb().string(), root.path().string()}), "dpkg-deb -x");
  EXPECT_EQ(filesUnder(root.path()), kInstalledFiles);
  expectManualPages(root.path());
  expectCopyright(root.path());
  expectWorkingPrograms(root.path());
  expectCompletion(root.path());
}

// The version the monitor reports is the project's, which names the package.
TEST(ProjectVersion, IsWhatTheMonitorReports) {
  const ChildResult version = runTool(kBuiltMonitor, {"-v"});
  EXPECT_TRUE(version.output.starts_with("Vestrel version " + kVersion + "\n")) << version.output;
}

TEST(InstallStep, PutsTheSameFilesUnderDestdir) {
  const ScratchDirectory root;
  const ChildResult installed =
      runTool("cmake", {"--install", kBuildDir, "--prefix", "/usr"}, {"DESTDIR=" + root.path().string()});
  expectSuccess(installed, "cmake --install");
  EXPECT_EQ(filesUnder(root.path()), kInstalledFiles);
  expectManualPages(root.path());
  expectCopyright(root.path());
  expectWorkingPrograms(root.path());
  expectCompletion(root.path());
}

}  // namespace
}  // namespace vestrel::package
