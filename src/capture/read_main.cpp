// vestrel-read: prints the chat messages of a saved capture file.
#include <unistd.h>

#include <cstdio>

#include "capture/capture_file.h"
#include "capture/read_options.h"
#include "capture/standard_streams.h"
#include "stream/console.h"

int main(int argc, char** argv) {
  using namespace vestrel;
  if (!prepareStandardStreams()) return 1;
  // Into a pipe or a file, print in large blocks; a terminal sees lines.
  constexpr size_t kOutputBufferBytes = 1 << 16;
  // Without the large buffer the output is the same, only slower.
  if (isatty(STDOUT_FILENO) == 0) static_cast<void>(std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferBytes));

  ReadCommand command = scanReadOptions(argc, argv);
  switch (command.action) {
    case ReadAction::ShowUsage: printReadUsage(stdout); return finishConsole(kReadProgramName) ? 0 : 1;
    case ReadAction::ShowVersion: printReadVersion(stdout); return finishConsole(kReadProgramName) ? 0 : 1;
    case ReadAction::Fail:
      std::fprintf(stderr, "%s: %s\n", kReadProgramName, command.error.c_str());
      printReadUsageLine(stderr);
      return 1;
    case ReadAction::Read: break;
  }
  return readCaptureFile(command);
}
