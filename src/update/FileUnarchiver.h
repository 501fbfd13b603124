#pragma once
// Unpacks a zip archive beside itself with bsdtar, by argument vector and from the file itself
// (so modes and symbolic links survive). Archives with absolute names or ".." components are
// refused before anything is written, and so are archives with entries other than files, folders
// and links, or holding more than kLargestUnpacked bytes.
#include <cstdint>
#include <string>

namespace telvo::update {

class FileUnarchiver {
public:
    // No larger application passes the signature check.
    static constexpr uint64_t kLargestUnpacked = uint64_t(4) << 30;
    // True when every entry was unpacked (bsdtar exited with 0).
    static bool unarchive(const std::string& archivePath);
    // Tests: the tool to run in place of "/usr/bin/bsdtar".
    static void setToolForTesting(const std::string& path);
    // Tests: a smaller sum of entry sizes (0 restores kLargestUnpacked).
    static void setLargestUnpackedForTesting(uint64_t bytes);
};

}  // namespace telvo::update
