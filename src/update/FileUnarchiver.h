#pragma once
// Unpacks a zip archive beside itself with bsdtar, by argument vector and from the file itself
// (so modes and symbolic links survive). Archives with absolute names or ".." components are
// refused before anything is written.
#include <string>

namespace telvo::update {

class FileUnarchiver {
public:
    // True when every entry was unpacked (bsdtar exited with 0).
    static bool unarchive(const std::string& archivePath);
    // Tests: the tool to run in place of "/usr/bin/bsdtar".
    static void setToolForTesting(const std::string& path);
};

}  // namespace telvo::update
