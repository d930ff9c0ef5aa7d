// The whole session captured on lo. The console is compared whole, with and
// without -u and -s, and with -l the log file is compared whole with the
// dumps of every message.
#include "whole_session.h"

namespace vestrel::live {
namespace {

using SessionTest = WholeSessionTest;

TEST_P(SessionTest, ShowsTheWholeSession) {
  sendWholeSession();
  expectWholeSession();
}

INSTANTIATE_TEST_SUITE_P(Options, SessionTest, testing::ValuesIn(sessionOptionSets()), optionSetName);

}  // namespace
}  // namespace vestrel::live
