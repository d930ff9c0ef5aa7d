// The live cases build wire bytes with the builders the unit tests use.
#pragma once

#include "common/bytes.h"

namespace vestrel::live {
using namespace vestrel::test;  // NOLINT(google-build-using-namespace)
}  // namespace vestrel::live
