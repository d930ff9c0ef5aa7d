// Runs vestrel-trace or the generator to its end, standard output and standard
// error kept apart, with a bound on how long it may take.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/test_files.h"

namespace vestrel::read {

using test::ChildResult;
using test::readFile;
using test::ScratchDirectory;
using test::writeFile;

struct ProgramRun {
  std::string program;
  std::vector<std::string> arguments;
  std::optional<std::filesystem::path> input;   // /dev/null when unset
  std::optional<std::filesystem::path> output;  // standard output goes here instead
  // Standard output is a pipe whose reader has already left, as `| head`
  // leaves it; or with -l FIFO, something reads there.
  bool outputReaderGone = false;
  test::ChildSetup setup;
};

ChildResult runProgram(const ProgramRun& given);

// vestrel-trace's standard error in two: the errors and warnings, and the
// counts every run ends with ("N packets captured" ...).
struct EndOfRun {
  std::string problems;
  std::string report;
};
EndOfRun splitEndOfRun(const std::string& errors);

}  // namespace vestrel::read
