#pragma once
// A private file-system root for one test, with every daemon singleton reset around it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"

namespace telvo::testing {

void resetDaemonSingletons();

class DaemonFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The host path of a path as the daemon names it.
    std::string host(const std::string& path) const { return root_ + path; }
    // The messages of the daemon log lines written so far (time stamps taken off).
    std::vector<std::string> logMessages() const;
    bool logged(const std::string& message) const;
    std::string root_;
    FILE* log_ = nullptr;
};

}  // namespace telvo::testing
