#pragma once
// An open log folder for a logger that root runs on behalf of a user: the folder is reached
// component by component without following links, made where missing with the user as its
// owner, and refused when an existing component belongs to someone else. Every later file
// operation of the logger goes through its descriptor (openat, renameat, unlinkat, fsetxattr),
// and every file it makes is given the user as owner, so a link or a folder planted after the
// check leads nowhere.
#include <sys/types.h>
#include <memory>
#include <string>

namespace telvo {

class LogFolder {
public:
    // `path` is absolute (under the file-system root); the components below `trustedPrefix`
    // (a folder root or the user vouches for, such as the user's home folder) must belong to
    // `uid` or be made for it. nullptr and `why` when the folder cannot be opened that way.
    // Missing folders are made with `mode`.
    static std::shared_ptr<const LogFolder> open(const std::string& path, const std::string& trustedPrefix, uid_t uid,
                                                 gid_t gid, std::string& why, mode_t mode = 0755);
    ~LogFolder();
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    int fd() const { return fd_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }
    const std::string& path() const { return path_; }

    // Makes a new file with O_EXCL and gives it to the owner; -1 (errno) when it cannot.
    int createFile(const std::string& name, mode_t mode) const;
    // Opens an existing regular file of the folder for appending, not following a link.
    int openFile(const std::string& name, int flags) const;

private:
    LogFolder(int fd, std::string path, uid_t uid, gid_t gid) : fd_(fd), uid_(uid), gid_(gid), path_(std::move(path)) {}
    int fd_;
    uid_t uid_;
    gid_t gid_;
    std::string path_;
};

using LogFolderPtr = std::shared_ptr<const LogFolder>;

}  // namespace telvo
