// Making and checking socket folders.
#include "platform/xpc/RunFolder.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>
#include "platform/fs/Root.h"

namespace telvo::xpc {

std::string userServiceFolder(uid_t uid) { return std::string(kServiceFolder) + "/user-" + std::to_string(uid); }

std::string serviceFolderForThisProcess() {
    return geteuid() == 0 ? std::string(kServiceFolder) : userServiceFolder(geteuid());
}

gid_t groupID(const std::string& name) {
    std::vector<char> buf(16384);
    group grp{};
    group* g = nullptr;
    if (getgrnam_r(name.c_str(), &grp, buf.data(), buf.size(), &g) != 0 || !g) return gid_t(-1);
    return g->gr_gid;
}

ErrorPtr prepareRunFolder(const std::string& path, mode_t mode, gid_t group) {
    std::string host = fs::resolve(path);
    auto posix = [&](int err, const std::string& what) {
        return makeError("NSPOSIXErrorDomain", err, what + " " + host + ": " + std::strerror(err));
    };
    struct stat st{};
    if (lstat(host.c_str(), &st) != 0) {
        if (errno != ENOENT) return posix(errno, "cannot inspect");
        std::string parent = path.substr(0, path.find_last_of('/'));
        if (!parent.empty() && !fs::isDirectory(parent) && !fs::createDirectories(parent, 0755))
            return posix(errno, "cannot make the parent of");
        if (mkdir(host.c_str(), mode) != 0 && errno != EEXIST) return posix(errno, "cannot make");
        if (lstat(host.c_str(), &st) != 0) return posix(errno, "cannot inspect");
    }
    if (!S_ISDIR(st.st_mode)) return posix(ENOTDIR, "not a folder:");
    if (st.st_uid != geteuid()) return posix(EPERM, "owned by another user:");
    if (geteuid() == 0 && group != gid_t(-1) && st.st_gid != group && chown(host.c_str(), 0, group) != 0)
        return posix(errno, "cannot set the group of");
    if ((st.st_mode & 07777) != mode && chmod(host.c_str(), mode) != 0) return posix(errno, "cannot set the mode of");
    if (lstat(host.c_str(), &st) != 0) return posix(errno, "cannot inspect");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return posix(EPERM, "writable by others:");
    return nullptr;
}

ErrorPtr prepareSharedRunFolder(const std::string& path) {
    std::string host = fs::resolve(path);
    auto posix = [&](int err, const std::string& what) {
        return makeError("NSPOSIXErrorDomain", err, what + " " + host + ": " + std::strerror(err));
    };
    if (!fs::isDirectory(path) && !fs::createDirectories(path, 0755)) return posix(errno, "cannot make");
    // Acted on through one descriptor: a link put in the folder's place is not followed.
    int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return posix(errno, "cannot open");
    struct stat st{};
    ErrorPtr error;
    if (::fstat(fd, &st) != 0)
        error = posix(errno, "cannot inspect");
    else if (st.st_uid != 0 && ::fchown(fd, 0, 0) != 0)
        error = posix(errno, "cannot take");
    else if ((st.st_mode & 07777) != 01777 && ::fchmod(fd, 01777) != 0)
        error = posix(errno, "cannot set the mode of");
    ::close(fd);
    return error;
}

}  // namespace telvo::xpc
