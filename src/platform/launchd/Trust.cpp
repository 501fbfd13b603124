// Ownership and mode checks of job files and programs.
#include "platform/launchd/Trust.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include "platform/fs/Root.h"

namespace telvo::launchd {

ErrorPtr checkTrusted(const std::string& path, uid_t user) {
    struct stat st{};
    if (::stat(fs::resolve(path).c_str(), &st) != 0)
        return makeError("launchd", errno, path + ": " + std::strerror(errno));
    if (st.st_uid != 0 && st.st_uid != user)
        return makeError("launchd", EPERM, path + " is owned by uid " + std::to_string(st.st_uid) +
                                               (user == 0 ? ", not by root" : ", neither by root nor by uid " + std::to_string(user)));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return makeError("launchd", EPERM, path + " is writable by group or others");
    return nullptr;
}

}  // namespace telvo::launchd
