#include "update/FileUnarchiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <sstream>

#include "platform/systemlog/SystemLog.h"
#include "update/ToolRun.h"

namespace telvo::update {
namespace {

std::mutex gToolMutex;
std::string gTool = "/usr/bin/bsdtar";
uint64_t gLargest = FileUnarchiver::kLargestUnpacked;

std::string tool() {
    std::lock_guard lock(gToolMutex);
    return gTool;
}

uint64_t largest() {
    std::lock_guard lock(gToolMutex);
    return gLargest;
}

// The verbose listing (numeric owners, so the first five fields are mode, links, owner, group
// and size): only files, folders and links are unpacked, and no more bytes than `limit` in all.
// bsdtar writes no more of an entry than its listed size, so the sum holds for what is written.
bool entriesFit(const std::string& listing, uint64_t limit, std::string& why) {
    std::stringstream lines(listing);
    std::string line;
    uint64_t total = 0;
    while (std::getline(lines, line)) {
        std::stringstream fields(line);
        std::string mode, links, owner, group, size;
        if (!(fields >> mode >> links >> owner >> group >> size) || mode.size() != 10) {
            why = "unreadable entry \"" + line + "\"";
            return false;
        }
        if (std::string("-dlh").find(mode[0]) == std::string::npos) {
            why = "entry \"" + line + "\" is no file, folder or link";
            return false;
        }
        if (size.empty() || size.size() > 19 || size.find_first_not_of("0123456789") != std::string::npos) {
            why = "entry \"" + line + "\" has no size";
            return false;
        }
        total += std::stoull(size);
        if (total > limit) {
            why = "its entries hold more than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    return true;
}

// An entry name that would land outside the folder: absolute, or with a ".." component.
bool escapes(const std::string& name) {
    if (name.empty()) return false;
    if (name[0] == '/') return true;
    std::stringstream parts(name);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (part == "..") return true;
    return false;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool FileUnarchiver::unarchive(const std::string& archivePath) {
    int fd = open(archivePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    const std::string bsdtar = tool();
    std::string listing;
    if (runTool({bsdtar, "-t", "-f", archivePath}, &listing) != 0) {
        SystemLog("Could not read the archive %@", archivePath);
        return false;
    }
    std::stringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (escapes(line)) {
            SystemLog("Refusing archive %@: entry %@ points outside its folder", archivePath, line);
            return false;
        }
    }
    std::string details, why;
    if (runTool({bsdtar, "-t", "-v", "--numeric-owner", "-f", archivePath}, &details) != 0) {
        SystemLog("Could not read the archive %@", archivePath);
        return false;
    }
    if (!entriesFit(details, largest(), why)) {
        SystemLog("Refusing archive %@: %@", archivePath, why);
        return false;
    }
    int status = runTool({bsdtar, "-x", "-f", archivePath, "-C", folderOf(archivePath)});
    if (status != 0) {
        SystemLog("Unpacking %@ failed (status %d)", archivePath, status);
        return false;
    }
    return true;
}

void FileUnarchiver::setToolForTesting(const std::string& path) {
    std::lock_guard lock(gToolMutex);
    gTool = path.empty() ? std::string("/usr/bin/bsdtar") : path;
}

void FileUnarchiver::setLargestUnpackedForTesting(uint64_t bytes) {
    std::lock_guard lock(gToolMutex);
    gLargest = bytes ? bytes : kLargestUnpacked;
}

}  // namespace telvo::update
