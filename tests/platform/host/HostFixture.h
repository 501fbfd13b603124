#pragma once
// A throw-away machine for the host statistics readers: a temporary folder that becomes the
// kernel-file root, with helpers to write /proc and /sys files into it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host/ProcRoot.h"

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvo-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        telvo::host::ProcRoot::setForTesting(root_);
    }
    void TearDown() override {
        telvo::host::ProcRoot::resetForTesting();
        std::filesystem::remove_all(root_);
    }
    // Writes `contents` at the kernel path (e.g. "/proc/stat"), making its folders.
    void write(const std::string& kernelPath, const std::string& contents) {
        std::filesystem::path p = root_ + kernelPath;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << contents;
    }
    void remove(const std::string& kernelPath) { std::filesystem::remove_all(root_ + kernelPath); }
    void makeFolder(const std::string& kernelPath) { std::filesystem::create_directories(root_ + kernelPath); }

    std::string root_;
};
