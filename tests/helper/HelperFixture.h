#pragma once
// A private file-system root for the step tests, with HOME inside it and a clean controller.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string>

namespace telvo::testing {

class HelperFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The host path of a logical path.
    std::string host(const std::string& path) const { return root_ + path; }
    void makeFile(const std::string& path, const std::string& contents, mode_t mode = 0644) const;
    std::string contents(const std::string& path) const;
    // "%o" of the mode bits and "uid:gid", read with lstat.
    std::string modeOf(const std::string& path) const;
    std::string ownerOf(const std::string& path) const;

    std::string root_;
    std::string savedHome_;
    bool hadHome_ = false;
};

}  // namespace telvo::testing
