// The whole session captured on the "any" pseudo-device, whose frames carry
// a Linux cooked header instead of Ethernet: the output after the banner and
// the log are exactly what the capture on lo shows.
#include "whole_session.h"

namespace vestrel::live {
namespace {

// libpcap describes the "any" device so, and `vestrel -d` lists devices by
// their description.
constexpr char kAnyDevice[] = "Pseudo-device that captures on all interfaces";

class AnyDeviceTest : public WholeSessionTest {
 protected:
  std::string captureDevice() const override { return kAnyDevice; }
};

// The banner, checked when the capture starts and again with the whole
// output, names the device as the list does.
TEST_P(AnyDeviceTest, ShowsTheWholeSessionAsOnLo) {
  sendWholeSession();
  expectWholeSession();
}

INSTANTIATE_TEST_SUITE_P(Options, AnyDeviceTest, testing::ValuesIn(sessionOptionSets()), optionSetName);

}  // namespace
}  // namespace vestrel::live
