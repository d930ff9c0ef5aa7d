// vestrel-trace's command line: options in tcpdump's manner (getopt_long),
// then a filter expression.
#pragma once

#include <cstdio>
#include <string>

#include "capture/trace.h"

namespace vestrel {

enum class TraceAction { Run, ListDevices, ShowUsage, ShowVersion, Fail };

struct TraceCommand {
  TraceAction action = TraceAction::Run;
  TraceSettings settings;
  std::string error;  // why the command line was refused (Fail)
};

// Scans argv. Options may be grouped (-uC) and may follow the filter
// expression's words, as with tcpdump; "--" ends them. Files are not opened here.
TraceCommand scanTraceOptions(int argc, char* const* argv);

// The whole usage text (-h), and the hint that follows a refused command line.
void printTraceUsage(FILE* stream);
void printTraceUsageHint(FILE* stream);
void printTraceVersion(FILE* stream);

}  // namespace vestrel
