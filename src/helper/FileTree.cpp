#include "helper/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>
#include "platform/fs/Root.h"

namespace telvo::helper {

Descriptor& Descriptor::operator=(Descriptor&& o) noexcept {
    if (this != &o) {
        reset(o.fd_);
        o.fd_ = -1;
    }
    return *this;
}

void Descriptor::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

// Deeper trees than this are refused: each level holds a descriptor.
constexpr int kDeepestTree = 256;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

std::string systemError(int error) { return std::strerror(error); }

std::string typeName(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISDIR(mode)) return "a folder";
    return "a regular file";
}

// Why opening a component without following it failed.
std::string openFailure(const std::string& shown, int error) {
    if (error == ELOOP) return shown + " is a symbolic link, which is never followed";
    if (error == ENOTDIR) return shown + " is not a folder";
    return shown + ": " + systemError(error);
}

// The folder a walk starts from and the components below it: the file-system root and the
// logical components, or "/" for a path outside the root (under $HOME).
bool startOf(const std::string& path, Descriptor& base, std::vector<std::string>& components, std::string& why) {
    const std::string host = fs::resolve(path);
    if (host.empty() || host[0] != '/') {
        why = "not an absolute path: " + path;
        return false;
    }
    std::string logical;
    std::string walked = host;
    if (fs::logicalPath(host, logical)) {
        walked = logical;
        base.reset(::open(fs::root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    } else {
        base.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!base) {
        why = "cannot open the file-system root: " + systemError(errno);
        return false;
    }
    components.clear();
    size_t i = 0;
    while (i < walked.size()) {
        size_t end = walked.find('/', i);
        if (end == std::string::npos) end = walked.size();
        std::string part = walked.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            why = "a path with \"..\" is refused: " + path;
            return false;
        }
        components.push_back(std::move(part));
    }
    return true;
}

// Opens the folder `name` of `folder` without following a link; on failure errno says why,
// ELOOP for a link (which O_DIRECTORY alone reports as ENOTDIR).
int openFolderAt(int folder, const char* name) {
    int fd = ::openat(folder, name, kFolderFlags);
    if (fd < 0 && errno == ENOTDIR) {
        struct stat st {};
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
        else errno = ENOTDIR;
    }
    return fd;
}

std::string shownPath(const std::vector<std::string>& components, size_t count) {
    std::string s;
    for (size_t i = 0; i < count && i < components.size(); ++i) s += "/" + components[i];
    return s.empty() ? "/" : s;
}

// The names in an opened folder, "." and ".." left out.
// The names in a folder; more than `most` of them fail.
bool entriesOf(int folder, std::vector<std::string>& names, const std::string& shown, std::string& why,
               uint64_t most = UINT64_MAX) {
    names.clear();
    int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = shown + ": " + systemError(errno);
        return false;
    }
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        why = shown + ": " + systemError(errno);
        return false;
    }
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (names.size() >= most) {
            ::closedir(d);
            why = shown + " holds more files and folders than the copy may take";
            return false;
        }
        names.emplace_back(e->d_name);
    }
    bool ok = errno == 0;
    if (!ok) why = shown + ": " + systemError(errno);
    ::closedir(d);
    return ok;
}

// A visit of one entry: `fd` is the opened folder for a folder, an O_PATH descriptor of the
// entry itself otherwise; `st` its fstat.
using Visit = std::function<bool(int fd, const struct stat& st, const std::string& shown, std::string& why)>;

// Visits `name` in `folder` and, for a folder, everything under it (the folder first), never
// through a link.
bool walkAt(int folder, const std::string& name, const std::string& shown, const Visit& visit, int depth, std::string& why) {
    if (depth > kDeepestTree) {
        why = shown + " lies deeper than " + std::to_string(kDeepestTree) + " folders";
        return false;
    }
    Descriptor entry(::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!entry || ::fstat(entry.get(), &st) != 0) {
        why = shown + ": " + systemError(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) return visit(entry.get(), st, shown, why);
    Descriptor dir(openFolderAt(folder, name.c_str()));
    struct stat again {};
    if (!dir || ::fstat(dir.get(), &again) != 0) {
        why = openFailure(shown, errno);
        return false;
    }
    if (again.st_dev != st.st_dev || again.st_ino != st.st_ino) {
        why = shown + " was replaced while it was walked";
        return false;
    }
    if (!visit(dir.get(), again, shown, why)) return false;
    std::vector<std::string> names;
    if (!entriesOf(dir.get(), names, shown, why)) return false;
    for (const auto& n : names)
        if (!walkAt(dir.get(), n, shown + "/" + n, visit, depth + 1, why)) return false;
    return true;
}

bool walkPath(const std::string& path, const Visit& visit, std::string& why) {
    Descriptor parent;
    std::string leaf;
    if (!openParent(path, parent, leaf, why)) return false;
    return walkAt(parent.get(), leaf, path, visit, 0, why);
}

// chmod of an opened entry: the folder's descriptor itself, or an O_PATH descriptor of a file
// through its /proc/self/fd entry (which names that very file, never a link).
bool modeOf(int fd, const struct stat& st, mode_t mode) {
    if (S_ISDIR(st.st_mode)) return ::fchmod(fd, mode) == 0;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::fchmodat(AT_FDCWD, self.c_str(), mode, 0) == 0;
}

// A file with another hard link could be a root file linked into a folder a user owns.
bool singleLink(const struct stat& st, const std::string& shown, std::string& why) {
    if (!S_ISREG(st.st_mode) || st.st_nlink <= 1) return true;
    why = shown + " has other hard links; its owner and mode are left alone";
    return false;
}

// What a bounded copy may still take: bytes of file data, and files and folders (an empty
// file costs an inode all the same).
struct CopyBudget {
    uint64_t bytes;
    uint64_t entries;
};

bool copyFileData(int from, int to, const std::string& shown, CopyBudget* budget, std::string& why) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR)) continue;
        if (n < 0) {
            why = "cannot read " + shown + ": " + systemError(errno);
            return false;
        }
        if (n == 0) return true;
        // A file that grows while it is read counts with what it has become.
        if (budget) {
            if (uint64_t(n) > budget->bytes) {
                why = shown + " takes the copy over its limit";
                return false;
            }
            budget->bytes -= uint64_t(n);
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                why = "cannot write the copy of " + shown + ": " + systemError(errno);
                return false;
            }
            done += w;
        }
    }
}

mode_t copiedMode(mode_t mode) { return mode & 0755; }

bool copyAt(int sourceFolder, const std::string& sourceName, int destFolder, const std::string& destName,
            const std::string& shown, int depth, CopyBudget* budget, std::string& why) {
    if (depth > kDeepestTree) {
        why = shown + " lies deeper than " + std::to_string(kDeepestTree) + " folders";
        return false;
    }
    if (budget) {
        if (budget->entries == 0) {
            why = shown + " takes the copy over its limit of files and folders";
            return false;
        }
        --budget->entries;
    }
    struct stat st {};
    if (::fstatat(sourceFolder, sourceName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        why = shown + ": " + systemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        why = shown + " is " + typeName(st.st_mode) + "; only regular files and folders are copied";
        return false;
    }
    Descriptor source(::openat(sourceFolder, sourceName.c_str(),
                               (S_ISDIR(st.st_mode) ? kFolderFlags : O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)));
    struct stat opened {};
    if (!source || ::fstat(source.get(), &opened) != 0) {
        why = openFailure(shown, errno);
        return false;
    }
    if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        why = shown + " was replaced while it was copied";
        return false;
    }
    if (S_ISREG(opened.st_mode)) {
        // Its length is known before a byte is written (a sparse file counts in full).
        if (budget && uint64_t(opened.st_size) > budget->bytes) {
            why = shown + " takes the copy over its limit";
            return false;
        }
        Descriptor out(::openat(destFolder, destName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out) {
            why = "cannot make the copy of " + shown + ": " + systemError(errno);
            return false;
        }
        if (!copyFileData(source.get(), out.get(), shown, budget, why)) return false;
        if (::fchmod(out.get(), copiedMode(opened.st_mode)) != 0) {
            why = "cannot set the mode of the copy of " + shown + ": " + systemError(errno);
            return false;
        }
        return true;
    }
    if (::mkdirat(destFolder, destName.c_str(), 0700) != 0) {
        why = "cannot make the copy of " + shown + ": " + systemError(errno);
        return false;
    }
    Descriptor made(::openat(destFolder, destName.c_str(), kFolderFlags));
    if (!made) {
        why = "cannot open the copy of " + shown + ": " + systemError(errno);
        return false;
    }
    std::vector<std::string> names;
    if (!entriesOf(source.get(), names, shown, why, budget ? budget->entries : UINT64_MAX)) return false;
    for (const auto& n : names)
        if (!copyAt(source.get(), n, made.get(), n, shown + "/" + n, depth + 1, budget, why)) return false;
    if (::fchmod(made.get(), copiedMode(opened.st_mode) | 0700) != 0) {
        why = "cannot set the mode of the copy of " + shown + ": " + systemError(errno);
        return false;
    }
    return true;
}

bool removeAt(int folder, const std::string& name, const std::string& shown, int depth, std::string& why) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        why = shown + ": " + systemError(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) return true;
        why = "cannot remove " + shown + ": " + systemError(errno);
        return false;
    }
    if (depth > kDeepestTree) {
        why = shown + " lies deeper than " + std::to_string(kDeepestTree) + " folders";
        return false;
    }
    Descriptor dir(::openat(folder, name.c_str(), kFolderFlags));
    if (!dir) {
        // Swapped for a link or a file since: that is removed instead.
        if (errno == ELOOP || errno == ENOTDIR) return removeAt(folder, name, shown, depth + 1, why);
        if (errno == ENOENT) return true;
        why = shown + ": " + systemError(errno);
        return false;
    }
    std::vector<std::string> names;
    if (!entriesOf(dir.get(), names, shown, why)) return false;
    for (const auto& n : names)
        if (!removeAt(dir.get(), n, shown + "/" + n, depth + 1, why)) return false;
    if (::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
    why = "cannot remove " + shown + ": " + systemError(errno);
    return false;
}

bool lookUpId(const std::string& text, bool user, unsigned& id) {
    if (text.empty()) return false;
    if (text.find_first_not_of("0123456789") == std::string::npos) {
        if (text.size() > 10) return false;
        unsigned long v = std::stoul(text);
        if (v >= 0xffffffffUL) return false;
        id = unsigned(v);
        return true;
    }
    std::vector<char> buffer(16384);
    if (user) {
        struct passwd pw {}, *found = nullptr;
        if (::getpwnam_r(text.c_str(), &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
        id = found->pw_uid;
    } else {
        struct group gr {}, *found = nullptr;
        if (::getgrnam_r(text.c_str(), &gr, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
        id = found->gr_gid;
    }
    return true;
}

}  // namespace

namespace {

// openParent, with the errno of a component that could not be opened (0 for other failures).
bool openParentOf(const std::string& path, Descriptor& parent, std::string& leaf, std::string& why, int& error) {
    error = 0;
    Descriptor folder;
    std::vector<std::string> components;
    if (!startOf(path, folder, components, why)) return false;
    if (components.empty()) {
        why = "the root folder itself cannot be changed: " + path;
        return false;
    }
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        Descriptor next(openFolderAt(folder.get(), components[i].c_str()));
        if (!next) {
            error = errno;
            why = openFailure(shownPath(components, i + 1), error);
            return false;
        }
        folder = std::move(next);
    }
    parent = std::move(folder);
    leaf = components.back();
    return true;
}

}  // namespace

bool openParent(const std::string& path, Descriptor& parent, std::string& leaf, std::string& why) {
    int error = 0;
    return openParentOf(path, parent, leaf, why, error);
}

bool makeFolders(const std::string& path, Descriptor& out, std::string& why) {
    Descriptor folder;
    std::vector<std::string> components;
    if (!startOf(path, folder, components, why)) return false;
    for (size_t i = 0; i < components.size(); ++i) {
        const char* name = components[i].c_str();
        bool made = ::mkdirat(folder.get(), name, 0755) == 0;
        if (!made && errno != EEXIST) {
            why = "cannot make " + shownPath(components, i + 1) + ": " + systemError(errno);
            return false;
        }
        Descriptor next(openFolderAt(folder.get(), name));
        if (!next) {
            why = openFailure(shownPath(components, i + 1), errno);
            return false;
        }
        // 0755 whatever the umask.
        if (made) ::fchmod(next.get(), 0755);
        folder = std::move(next);
    }
    out = std::move(folder);
    return true;
}

bool makeFolders(const std::string& path, std::string& why) {
    Descriptor folder;
    return makeFolders(path, folder, why);
}

bool lookUp(const std::string& path, struct stat& st, std::string& why) {
    why.clear();
    Descriptor parent;
    std::string leaf;
    int error = 0;
    if (!openParentOf(path, parent, leaf, why, error)) {
        // A missing folder on the way: nothing is there.
        if (error == ENOENT) why.clear();
        return false;
    }
    if (::fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT) why = path + ": " + systemError(errno);
    return false;
}

bool occupied(const std::string& path) {
    struct stat st {};
    std::string why;
    return lookUp(path, st, why) || !why.empty();
}

bool isRealFolder(const std::string& path) {
    struct stat st {};
    std::string why;
    return lookUp(path, st, why) && S_ISDIR(st.st_mode);
}

bool removeTree(const std::string& path, std::string& why) {
    Descriptor parent;
    std::string leaf;
    int error = 0;
    if (!openParentOf(path, parent, leaf, why, error)) {
        if (error == ENOENT) {
            why.clear();
            return true;
        }
        return false;
    }
    return removeAt(parent.get(), leaf, path, 0, why);
}

bool removeTreeAt(int folder, const std::string& name, std::string& why) { return removeAt(folder, name, name, 0, why); }

bool touchPath(const std::string& path, std::string& why) {
    Descriptor parent;
    std::string leaf;
    if (!openParent(path, parent, leaf, why)) return false;
    if (::utimensat(parent.get(), leaf.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT) {
        why = "cannot touch " + path + ": " + systemError(errno);
        return false;
    }
    Descriptor made(::openat(parent.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!made) {
        why = "cannot make " + path + ": " + systemError(errno);
        return false;
    }
    ::fchmod(made.get(), 0644);
    return true;
}

bool parseOwner(const std::string& text, Owner& owner) {
    owner = Owner{};
    if (text.empty() || text[0] == '-') return false;
    if (text == "root") {
        owner.uid = 0;
        owner.gid = 0;
        return true;
    }
    size_t colon = text.find(':');
    std::string user = text.substr(0, colon);
    std::string group = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    unsigned id = 0;
    if (!user.empty()) {
        if (!lookUpId(user, true, id)) return false;
        owner.uid = id;
    }
    if (colon == std::string::npos) return !user.empty();
    if (!group.empty()) {
        if (!lookUpId(group, false, id)) return false;
        owner.gid = id;
        return true;
    }
    // "user:": that user's login group.
    if (user.empty()) return false;
    std::vector<char> buffer(16384);
    struct passwd pw {}, *found = nullptr;
    if (::getpwuid_r(owner.uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    owner.gid = found->pw_gid;
    return true;
}

bool changeOwnerTree(const std::string& path, const Owner& owner, std::string& why) {
    return walkPath(path, [&](int fd, const struct stat& st, const std::string& shown, std::string& w) {
        if (!singleLink(st, shown, w)) return false;
        if (::fchownat(fd, "", owner.uid, owner.gid, AT_EMPTY_PATH) == 0) return true;
        w = "cannot change the owner of " + shown + ": " + systemError(errno);
        return false;
    }, why);
}

bool changeModeTree(const std::string& path, mode_t mode, std::string& why) {
    return walkPath(path, [&](int fd, const struct stat& st, const std::string& shown, std::string& w) {
        if (S_ISLNK(st.st_mode)) return true;
        if (!singleLink(st, shown, w)) return false;
        if (modeOf(fd, st, mode)) return true;
        w = "cannot change the mode of " + shown + ": " + systemError(errno);
        return false;
    }, why);
}

bool installModesTree(const std::string& path, std::string& why) {
    return walkPath(path, [&](int fd, const struct stat& st, const std::string& shown, std::string& w) {
        if (S_ISLNK(st.st_mode)) return true;
        if (!singleLink(st, shown, w)) return false;
        mode_t mode = S_ISDIR(st.st_mode) || (st.st_mode & 0111) ? 0755 : (st.st_mode & 0755);
        if (modeOf(fd, st, mode)) return true;
        w = "cannot change the mode of " + shown + ": " + systemError(errno);
        return false;
    }, why);
}

bool copyTreeTo(const std::string& source, int folder, const std::string& name, std::string& why) {
    return copyTreeTo(source, folder, name, UINT64_MAX, UINT64_MAX, why);
}

bool copyTreeTo(const std::string& source, int folder, const std::string& name, uint64_t largest, uint64_t mostEntries,
                std::string& why) {
    Descriptor parent;
    std::string leaf;
    if (!openParent(source, parent, leaf, why)) return false;
    CopyBudget budget{largest, mostEntries};
    if (copyAt(parent.get(), leaf, folder, name, source, 0, &budget, why)) return true;
    std::string ignored;
    removeAt(folder, name, name, 0, ignored);
    return false;
}

bool movePath(const std::string& from, const std::string& to, std::string& why) {
    Descriptor fromParent, toParent;
    std::string fromLeaf, toLeaf;
    if (!openParent(from, fromParent, fromLeaf, why) || !openParent(to, toParent, toLeaf, why)) return false;
    struct stat st {};
    if (::fstatat(toParent.get(), toLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        Descriptor into(openFolderAt(toParent.get(), toLeaf.c_str()));
        if (!into) {
            why = openFailure(to, errno);
            return false;
        }
        toParent = std::move(into);
        toLeaf = fromLeaf;
    }
    if (::renameat(fromParent.get(), fromLeaf.c_str(), toParent.get(), toLeaf.c_str()) == 0) return true;
    why = "cannot move " + from + " to " + to + ": " + systemError(errno);
    return false;
}

}  // namespace telvo::helper
