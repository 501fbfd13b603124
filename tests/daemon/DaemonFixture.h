#pragma once
// A private file-system root for one test, with every daemon singleton reset around it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "daemon/DaemonLog.h"
#include "platform/fs/Root.h"

namespace telvo::testing {

void resetDaemonSingletons();

class DaemonFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The host path of a path as the daemon names it.
    std::string host(const std::string& path) const { return root_ + path; }
    bool logged(const std::string& line) const;
    std::string root_;
    std::vector<std::string> log_;
};

}  // namespace telvo::testing
