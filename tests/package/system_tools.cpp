#include "package/system_tools.h"

#include <sstream>

namespace vestrel::package {

namespace {

// Building a package runs the install step and dpkg-shlibdeps; on a busy
// machine that takes seconds, never a minute.
constexpr test::Millis kToolTimeout{60000};

std::optional<std::string> locate(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  return test::findProgram(program);
}

}  // namespace

ChildResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment) {
  const auto path = locate(program);
  if (!path) return {"", "", "not found: " + program};
  if (environment.empty()) return test::ChildProcess::run(*path, arguments, "/dev/null", kToolTimeout);

  const auto env = test::findProgram("env");
  if (!env) return {"", "", "not found: env"};
  std::vector<std::string> envArguments = environment;
  envArguments.push_back(*path);
  envArguments.insert(envArguments.end(), arguments.begin(), arguments.end());
  return test::ChildProcess::run(*env, envArguments, "/dev/null", kToolTimeout);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

}  // namespace vestrel::package
