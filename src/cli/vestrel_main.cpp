#include "capture/capture.h"
#include "capture/devices.h"
#include "capture/standard_streams.h"
#include "cli/options.h"
#include "output/console.h"

int main(int argc, char** argv) {
  using namespace vestrel;
  // Without its standard descriptors nothing can be said: stop at once.
  if (!prepareStandardStreams()) return 1;
  Options options;
  const char* programName = argc > 0 && argv[0] != nullptr ? argv[0] : "vestrel";
  int status = 0;
  switch (scanOptions(argc, argv, options)) {
    case Action::ShowUsage: printUsage(programName); break;
    case Action::ShowVersion: printVersion(); break;
    case Action::ListDevices: printDeviceList(); break;
    case Action::Capture: status = runCapture(options.deviceNumber, options); break;
  }
  // Output that could not be written has nowhere else to go than standard
  // error. Failures have been printed; every road ends with status 0 but
  // one: a capture that could not give up its privileges does not run.
  finishConsole("vestrel");
  return status;
}
