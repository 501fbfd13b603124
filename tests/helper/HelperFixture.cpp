#include "HelperFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include "helper/HelperController.h"
#include "platform/fs/Root.h"

namespace telvo::testing {

void HelperFixture::SetUp() {
    char pattern[] = "/tmp/telvo-helper-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ::chmod(root_.c_str(), 0755);
    fs::setRootForTesting(root_);
    const char* home = std::getenv("HOME");
    hadHome_ = home != nullptr;
    savedHome_ = home ? home : "";
    std::filesystem::create_directories(root_ + "/Users/tester");
    setenv("HOME", (root_ + "/Users/tester").c_str(), 1);
    helper::HelperController::sharedHelper().resetForTesting();
}

void HelperFixture::TearDown() {
    helper::HelperController::sharedHelper().resetForTesting();
    fs::setRootForTesting("");
    if (hadHome_) setenv("HOME", savedHome_.c_str(), 1);
    else unsetenv("HOME");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void HelperFixture::makeFile(const std::string& path, const std::string& text, mode_t mode) const {
    std::filesystem::create_directories(std::filesystem::path(host(path)).parent_path());
    std::ofstream(host(path), std::ios::trunc) << text;
    ::chmod(host(path).c_str(), mode);
}

std::string HelperFixture::contents(const std::string& path) const {
    std::ifstream in(host(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string HelperFixture::modeOf(const std::string& path) const {
    struct stat st {};
    if (::lstat(host(path).c_str(), &st) != 0) return "missing";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%o", unsigned(st.st_mode & 07777));
    return buf;
}

std::string HelperFixture::ownerOf(const std::string& path) const {
    struct stat st {};
    if (::lstat(host(path).c_str(), &st) != 0) return "missing";
    return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
}

}  // namespace telvo::testing
