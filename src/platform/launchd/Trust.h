#pragma once
// Whether a job file or program may be trusted by an instance: it and every folder from "/"
// down to it must belong to root or to the instance's own user, nobody else (group or others)
// may write them, and no link may be on the way. Otherwise anybody who can write the file, or
// swap it in a folder above, would have a job run as root (or as that user). A folder that
// everyone may write into is passed only when it is root's and sticky ("/tmp"): there only
// the owner of an entry may move it, and that owner is checked next.
//
// The file is opened once and checked through its descriptor; what is read or run is that
// descriptor, never the path again.
#include <sys/stat.h>
#include <sys/types.h>
#include <string>
#include "platform/Error.h"

namespace telvo::launchd {

// An open, checked regular file (closed with the object).
class TrustedFile {
public:
    TrustedFile() = default;
    ~TrustedFile();
    TrustedFile(TrustedFile&& other) noexcept;
    TrustedFile& operator=(TrustedFile&& other) noexcept;
    TrustedFile(const TrustedFile&) = delete;
    TrustedFile& operator=(const TrustedFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Opened for reading (false: a program root may only run, opened as a path).
    bool readable() const { return readable_; }
    const struct stat& status() const { return status_; }

private:
    friend ErrorPtr openTrusted(const std::string& path, uid_t user, TrustedFile& out);
    int fd_ = -1;
    bool readable_ = false;
    struct stat status_ {};
};

// `path` is a logical path (resolved under the file-system root); `user` the instance's user
// (0 for the system instance). Opens the file (never blocking, never through a link) and
// answers why it cannot be trusted, as an error of domain "launchd", or null.
ErrorPtr openTrusted(const std::string& path, uid_t user, TrustedFile& out);

// The same check, with the file closed again.
ErrorPtr checkTrusted(const std::string& path, uid_t user);

// Job files are read whole, up to this size.
constexpr size_t kJobFileLimit = size_t(1) << 20;

}  // namespace telvo::launchd
