// vestrel-trace: every chat message, live or from a capture file, each
// connection reassembled on its own.
#include <unistd.h>

#include <cstdio>

#include "capture/standard_streams.h"
#include "capture/trace.h"
#include "cli/trace_options.h"
#include "output/console.h"

int main(int argc, char** argv) {
  using namespace vestrel;
  if (!prepareStandardStreams()) return 1;
  // Into a pipe or a file, print in large blocks; a terminal sees lines.
  constexpr size_t kOutputBufferBytes = 1 << 16;
  // Without the large buffer the output is the same, only slower.
  if (isatty(STDOUT_FILENO) == 0) static_cast<void>(std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferBytes));

  TraceCommand command = scanTraceOptions(argc, argv);
  switch (command.action) {
    case TraceAction::ShowUsage: printTraceUsage(stdout); return finishConsole(kTraceProgramName) ? 0 : 1;
    case TraceAction::ShowVersion: printTraceVersion(stdout); return finishConsole(kTraceProgramName) ? 0 : 1;
    case TraceAction::ListDevices: return listTraceDevices();
    case TraceAction::Fail:
      std::fprintf(stderr, "%s: %s\n", kTraceProgramName, command.error.c_str());
      printTraceUsageHint(stderr);
      return 1;
    case TraceAction::Run: break;
  }
  return runTrace(command.settings);
}
