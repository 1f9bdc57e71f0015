// Every platform test starts from a reset platform and must leave nothing alive.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim.h"

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override {
    EXPECT_EQ(sim::LiveObjects(), 0);
    sim::Reset();
  }
};
