// The system's tools the packaging tests drive (cpack, dpkg-deb, groff,
// man, gzip) and the built programs, each run to its end within a bound.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/test_files.h"

namespace vestrel::package {

using test::ChildResult;
using test::readFile;
using test::ScratchDirectory;

// Runs a program by path or by name from PATH, with NAME=VALUE settings
// added to its environment. A program that cannot be found ends with the
// status "not found: NAME", so the case fails naming it.
ChildResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {});

// The file's lines, without their line ends.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace vestrel::package
