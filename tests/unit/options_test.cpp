#include "capture/options.h"

#include <gtest/gtest.h>

TEST(Placeholder, Builds) { EXPECT_EQ(vestrel::parseDeviceNumber("3"), 3); }
