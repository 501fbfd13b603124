#pragma once
// Puts the dispatch layer and the clock back in their starting state around each test.
#include <gtest/gtest.h>
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

namespace telvo::dispatch::testing {

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { MainLoop::resetForTesting(); }
    void TearDown() override { MainLoop::resetForTesting(); }
};

}  // namespace telvo::dispatch::testing
