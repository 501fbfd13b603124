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

std::string tool() {
    std::lock_guard lock(gToolMutex);
    return gTool;
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

}  // namespace telvo::update
