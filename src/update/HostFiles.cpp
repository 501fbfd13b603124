#include "update/HostFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::update {

bool hostIsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeHostDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return hostIsDirectory(path);
}

Value readHostPropertyList(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Value();
    std::string contents;
    const bool read = fs::readDescriptor(fd, contents, size_t(1) << 20);
    ::close(fd);
    return read ? plist::parse(contents) : Value();
}

}  // namespace telvo::update
