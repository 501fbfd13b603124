#include "helper/HelperTrash.h"

#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "foundation/logging/LogFolder.h"
#include "helper/FileTree.h"

namespace telvo::helper {

namespace {

// "<name>", then "<stem> (2).<extension>", ... as the interpreter names trashed files.
std::string candidate(const std::string& name, int counter) {
    if (counter < 2) return name;
    std::string stem = name, extension;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        extension = name.substr(dot + 1);
    }
    std::string out = stem + " (" + std::to_string(counter) + ")";
    return extension.empty() ? out : out + "." + extension;
}

bool copyAsUser(const std::string& file, int trash, const std::string& name, const PeerUser& user, std::string& why) {
    pid_t child = ::fork();
    if (child < 0) {
        why = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0 ||
            ::setuid(user.uid) != 0)
            _exit(2);
        std::string ignored;
        _exit(copyTreeTo(file, trash, name, ignored) ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = "the copy into the Trash as user " + user.name + " failed";
        return false;
    }
    return true;
}

}  // namespace

bool trashForUser(const std::string& file, const PeerUser& user, std::string& target, std::string& why) {
    const std::string trashPath = trashFolder(user);
    LogFolderPtr trash = LogFolder::open(trashPath, user.home, user.uid, user.gid, why, 0700);
    if (!trash) return false;
    Descriptor parent;
    std::string leaf;
    if (!openParent(file, parent, leaf, why)) return false;
    struct stat st;
    if (::fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        why = file + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = file + " is no application folder";
        return false;
    }
    for (int counter = 1; counter <= 999999; ++counter) {
        const std::string name = candidate(leaf, counter);
        struct stat there;
        if (::fstatat(trash->fd(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) continue;
        if (::renameat2(parent.get(), leaf.c_str(), trash->fd(), name.c_str(), RENAME_NOREPLACE) == 0) {
            target = trashPath + "/" + name;
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno != EXDEV) {
            why = "moving " + file + " into " + trashPath + ": " + std::strerror(errno);
            return false;
        }
        if (!copyAsUser(file, trash->fd(), name, user, why)) return false;
        if (!removeTreeAt(parent.get(), leaf, why)) return false;
        target = trashPath + "/" + name;
        return true;
    }
    why = "no free name in " + trashPath;
    return false;
}

}  // namespace telvo::helper
