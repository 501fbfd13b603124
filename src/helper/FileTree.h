#pragma once
// The file operations of the installation steps, all through descriptors: a path is opened
// from the file-system root one component at a time (O_NOFOLLOW | O_DIRECTORY), and every
// change is made relative to the opened parent or on the opened file itself, so that no
// symbolic link is ever followed, on the way or at the end, and a name swapped after a check
// is never acted on. Walks of a tree never follow a link either. Each failing operation
// answers false and says why in `why`.
#include <sys/stat.h>
#include <sys/types.h>
#include <cstdint>
#include <string>

namespace telvo::helper {

// An open descriptor, closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Descriptor& operator=(Descriptor&& o) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// The folder holding `path` (a logical path, or one under $HOME), opened without following
// a link, and the last component of the path. Fails for the root itself and for "..".
bool openParent(const std::string& path, Descriptor& parent, std::string& leaf, std::string& why);
// The folder at `path` and every folder above it made when missing (mode 0755, the caller's
// owner), none through a link; `folder` gets the last one opened.
bool makeFolders(const std::string& path, Descriptor& folder, std::string& why);
bool makeFolders(const std::string& path, std::string& why);

// What is at `path` (the lstat of it), reached without following a link: true when something,
// a link included, is there; false when nothing is, or (with `why` set) when the path cannot
// be reached without following a link.
bool lookUp(const std::string& path, struct stat& st, std::string& why);
// Something (a link included) is there, or the path is blocked by a link on the way.
bool occupied(const std::string& path);
// A folder is there, reached without a link.
bool isRealFolder(const std::string& path);

// Removes what is at `path`, a whole tree included, never following a link (a link is removed,
// not what it points at). True when nothing is there afterwards.
bool removeTree(const std::string& path, std::string& why);
bool removeTreeAt(int folder, const std::string& name, std::string& why);
// Updates the times of what is at `path` (a link itself, never its target), making an empty
// file (0644) when nothing is there.
bool touchPath(const std::string& path, std::string& why);

// An owner text: "root", "uid[:gid]" or "user[:group]" (names looked up), ":group", "user:"
// (that user's login group). -1 leaves a part as it is.
struct Owner {
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
};
bool parseOwner(const std::string& text, Owner& owner);

// The owner of everything at and under `path` (links themselves included).
bool changeOwnerTree(const std::string& path, const Owner& owner, std::string& why);
// The mode of everything at and under `path`; links are left alone.
bool changeModeTree(const std::string& path, mode_t mode, std::string& why);
// The modes an installed copy gets: 0755 for folders and for files with an execute bit; other
// files keep their own mode without write for group and others and without special bits.
bool installModesTree(const std::string& path, std::string& why);

// Copies the tree at `source` (regular files and folders only: a link, FIFO, device or socket
// anywhere in it fails the copy) to the new entry `name` of `folder`. Files keep their own
// permission bits without group and other write and without special bits. On failure the
// partial copy is removed.
bool copyTreeTo(const std::string& source, int folder, const std::string& name, std::string& why);
// The same, failing once the files of the tree hold more than `largest` bytes together or the
// tree holds more than `mostEntries` files and folders.
bool copyTreeTo(const std::string& source, int folder, const std::string& name, uint64_t largest, uint64_t mostEntries,
                std::string& why);

// Renames `from` to `to` (both reached without a link). When `to` is a folder, `from` goes into
// it under its own name, as "mv" does; otherwise it replaces `to`.
bool movePath(const std::string& from, const std::string& to, std::string& why);

}  // namespace telvo::helper
