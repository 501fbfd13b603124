#include "foundation/logging/LogFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>
#include "platform/fs/Root.h"

namespace telvo {

namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) out.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return out;
}

int openFolderAt(int parent, const std::string& name) {
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

LogFolder::~LogFolder() {
    if (fd_ >= 0) ::close(fd_);
}

LogFolderPtr LogFolder::open(const std::string& path, const std::string& trustedPrefix, uid_t uid, gid_t gid,
                             std::string& why, mode_t mode) {
    const std::vector<std::string> all = components(path);
    const std::vector<std::string> trusted = components(trustedPrefix);
    if (path.empty() || path[0] != '/' || trusted.size() > all.size()) {
        why = path + " is not an absolute path below " + trustedPrefix;
        return nullptr;
    }
    for (size_t i = 0; i < trusted.size(); ++i) {
        if (trusted[i] != all[i]) {
            why = path + " does not lie in " + trustedPrefix;
            return nullptr;
        }
    }
    for (const std::string& c : all) {
        if (c == "." || c == "..") {
            why = path + " holds \".\" or \"..\"";
            return nullptr;
        }
    }
    int fd = ::open(fs::resolve("/").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("the root folder cannot be opened: ") + std::strerror(errno);
        return nullptr;
    }
    std::string walked;
    for (size_t i = 0; i < all.size(); ++i) {
        walked += "/" + all[i];
        const bool mustBeOwned = i >= trusted.size() || i + 1 == trusted.size();
        int next = openFolderAt(fd, all[i]);
        if (next < 0 && errno == ENOENT && i >= trusted.size()) {
            if (::mkdirat(fd, all[i].c_str(), mode) != 0 && errno != EEXIST) {
                why = walked + " cannot be made: " + std::strerror(errno);
                ::close(fd);
                return nullptr;
            }
            next = openFolderAt(fd, all[i]);
            struct stat st;
            // Ours if we made it (still root's and empty); handed to the user through the descriptor.
            if (next >= 0 && ::fstat(next, &st) == 0 && st.st_uid == ::geteuid()) {
                if (st.st_uid != uid && ::fchown(next, uid, gid) != 0) {
                    why = walked + " cannot be given to user " + std::to_string(uid);
                    ::close(next);
                    ::close(fd);
                    return nullptr;
                }
                ::fchmod(next, mode);
            }
        }
        int error = errno;
        ::close(fd);
        if (next < 0) {
            why = walked + (error == ELOOP || error == ENOTDIR ? " is no folder (a link?)" : " cannot be opened: ") +
                  (error == ELOOP || error == ENOTDIR ? "" : std::strerror(error));
            return nullptr;
        }
        fd = next;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
            why = walked + " is no folder";
            ::close(fd);
            return nullptr;
        }
        if (mustBeOwned && st.st_uid != uid) {
            why = walked + " belongs to user " + std::to_string(st.st_uid) + ", not to " + std::to_string(uid);
            ::close(fd);
            return nullptr;
        }
        // Above the user's folders, nobody but root may change a component.
        if (!mustBeOwned && st.st_uid != 0 && st.st_uid != uid) {
            why = walked + " belongs to user " + std::to_string(st.st_uid);
            ::close(fd);
            return nullptr;
        }
    }
    return LogFolderPtr(new LogFolder(fd, path, uid, gid));
}

int LogFolder::createFile(const std::string& name, mode_t mode) const {
    if (name.empty() || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    if (::fchown(fd, uid_, gid_) != 0 && ::geteuid() == 0) {
        int error = errno;
        ::unlinkat(fd_, name.c_str(), 0);
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int LogFolder::openFile(const std::string& name, int flags) const {
    if (name.empty() || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::openat(fd_, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != uid_) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

}  // namespace telvo
