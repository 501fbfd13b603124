// Ownership and mode checks of job files and programs, folder by folder from "/".
#include "platform/launchd/Trust.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>
#include "platform/fs/Root.h"

namespace telvo::launchd {

namespace {

ErrorPtr refused(int code, const std::string& why) { return makeError("launchd", code, why); }

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// The name used in messages: the logical path where the host path lies under the root.
std::string shown(const std::string& host) {
    std::string logical;
    return fs::logicalPath(host, logical) ? logical : host;
}

ErrorPtr checkOwnerAndMode(const struct stat& st, const std::string& name, uid_t user) {
    if (st.st_uid != 0 && st.st_uid != user)
        return refused(EPERM, name + " is owned by uid " + std::to_string(st.st_uid) +
                                  (user == 0 ? ", not by root" : ", neither by root nor by uid " + std::to_string(user)));
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        // Root's sticky folders ("/tmp"): only an entry's owner may move it, and that owner is
        // checked with the entry.
        bool stickyOfRoot = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0;
        if (!stickyOfRoot) return refused(EPERM, name + " is writable by group or others");
    }
    return nullptr;
}

}  // namespace

TrustedFile::~TrustedFile() {
    if (fd_ >= 0) ::close(fd_);
}

TrustedFile::TrustedFile(TrustedFile&& other) noexcept
    : fd_(other.fd_), readable_(other.readable_), status_(other.status_) {
    other.fd_ = -1;
}

TrustedFile& TrustedFile::operator=(TrustedFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        readable_ = other.readable_;
        status_ = other.status_;
        other.fd_ = -1;
    }
    return *this;
}

ErrorPtr openTrusted(const std::string& path, uid_t user, TrustedFile& out) {
    out = TrustedFile();
    const std::string host = fs::resolve(path);
    if (host.empty() || host.front() != '/') return refused(EINVAL, path + " is no absolute path");
    std::vector<std::string> names;
    for (size_t at = 1; at <= host.size();) {
        size_t next = host.find('/', at);
        if (next == std::string::npos) next = host.size();
        std::string name = host.substr(at, next - at);
        if (name == "." || name == "..") return refused(EINVAL, path + " holds a \".\" or \"..\" component");
        if (!name.empty()) names.push_back(name);
        at = next + 1;
    }
    if (names.empty()) return refused(EISDIR, path + " is a folder");

    Descriptor folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return refused(errno, std::string("/: ") + std::strerror(errno));
    struct stat st{};
    if (::fstat(folder.get(), &st) != 0) return refused(errno, std::string("/: ") + std::strerror(errno));
    if (ErrorPtr e = checkOwnerAndMode(st, "/", user)) return e;

    std::string walked;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        walked += "/" + names[i];
        Descriptor next(::openat(folder.get(), names[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) return refused(errno, shown(walked) + ": " + std::strerror(errno));
        if (::fstat(next.get(), &st) != 0) return refused(errno, shown(walked) + ": " + std::strerror(errno));
        if (S_ISLNK(st.st_mode)) return refused(ELOOP, shown(walked) + " (on the way to " + path + ") is a link");
        if (!S_ISDIR(st.st_mode)) return refused(ENOTDIR, shown(walked) + " is no folder");
        if (ErrorPtr e = checkOwnerAndMode(st, shown(walked), user)) return e;
        folder.reset(next.release());
    }

    // The file: opened without following a link and without blocking (a FIFO or device is
    // opened only to be refused). A program root may run but not read is opened as a path.
    const std::string& last = names.back();
    int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Descriptor file(::openat(folder.get(), last.c_str(), flags));
    bool readable = true;
    if (file.get() < 0 && errno == EACCES) {
        file.reset(::openat(folder.get(), last.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        readable = false;
    }
    if (file.get() < 0) {
        if (errno == ELOOP) return refused(ELOOP, path + " is a link");
        return refused(errno, path + ": " + std::strerror(errno));
    }
    if (::fstat(file.get(), &st) != 0) return refused(errno, path + ": " + std::strerror(errno));
    if (S_ISLNK(st.st_mode)) return refused(ELOOP, path + " is a link");
    if (!S_ISREG(st.st_mode)) return refused(EINVAL, path + " is no regular file");
    if (ErrorPtr e = checkOwnerAndMode(st, path, user)) return e;
    out.fd_ = file.release();
    out.readable_ = readable;
    out.status_ = st;
    return nullptr;
}

ErrorPtr checkTrusted(const std::string& path, uid_t user) {
    TrustedFile file;
    return openTrusted(path, user, file);
}

}  // namespace telvo::launchd
