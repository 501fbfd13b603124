// Keeping the per-process /proc files open between passes.
#include "platform/host/KeptProcessFiles.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <linux/magic.h>

namespace telvo::host {

namespace {

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

int openByPath(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); }

}  // namespace

bool KeptProcessFiles::readWhole(int fd, std::string& buffer) {
    buffer.clear();
    if (buffer.capacity() < 2048) buffer.reserve(2048);
    size_t used = 0;
    for (;;) {
        if (buffer.capacity() - used < 512) buffer.reserve(buffer.capacity() * 2);
        buffer.resize(buffer.capacity());
        // A /proc file read from offset 0 again is made anew.
        const ssize_t n = ::pread(fd, buffer.data() + used, buffer.size() - used, static_cast<off_t>(used));
        if (n < 0) {
            if (errno == EINTR) continue;
            buffer.clear();
            return false;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
        // The kernel writes these files whole into a buffer that can take them: a read that
        // left room was the last (saving the read that would answer 0).
        if (used < buffer.size()) break;
    }
    buffer.resize(used);
    return true;
}

KeptProcessFiles::Read KeptProcessFiles::read(int32_t pid, File file, const std::string& path, std::string& buffer,
                                              bool openAfterEnd) {
    const size_t slot = static_cast<size_t>(file);
    if (Entry* entry = find(pid); entry && entry->files[slot].fd >= 0) {
        const Kept& kept = entry->files[slot];
        if (kept.procfs || !replaced(kept, path)) {
            if (readWhole(kept.fd, buffer)) {
                // A procfs file of a process that has ended reads nothing (or ESRCH); a
                // fixture's file may well be empty.
                if (!buffer.empty() || !kept.procfs) return Read::ok;
            } else if (errno != ESRCH) {
                return Read::failed;
            }
        }
        // The process has ended (for a fixture's file: its path names another file or none),
        // and every kept file of that pid is the ended process's.
        closeEntry(*entry);
        buffer.clear();
        if (!openAfterEnd) {
            errno = ESRCH;
            return Read::ended;
        }
    }

    int fd = openByPath(path);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && descriptors_ > 0) {
        // Out of descriptors: the kept ones go first, and none are kept for a while.
        closeAll();
        listingsWithoutKeeping_ = kListingsWithoutKeeping;
        fd = openByPath(path);
    }
    if (fd < 0) {
        buffer.clear();
        return Read::failed;
    }
    if (!readWhole(fd, buffer)) {
        closeKeepingErrno(fd);
        return Read::failed;
    }
    // Nothing read: a process that ended between open and read, never kept.
    if (buffer.empty() || !keep(pid, file, fd)) ::close(fd);
    return Read::ok;
}

bool KeptProcessFiles::keep(int32_t pid, File file, int fd) {
    if (listingsWithoutKeeping_ > 0 || descriptors_ >= budget_) return false;
    Kept kept;
    kept.fd = fd;
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    kept.procfs = fs.f_type == PROC_SUPER_MAGIC;
    if (!kept.procfs) {
        struct stat st;
        if (::fstat(fd, &st) != 0) return false;
        kept.device = st.st_dev;
        kept.inode = st.st_ino;
    }
    auto it = position(pid);
    if (it == entries_.end() || it->pid != pid) {
        if (entries_.size() >= kMaximumProcesses) return false;
        it = entries_.insert(it, Entry{});
        it->pid = pid;
    }
    Kept& slot = it->files[static_cast<size_t>(file)];
    if (slot.fd >= 0) {  // not reached: a kept file is read, not opened again
        ::close(slot.fd);
        --descriptors_;
    }
    slot = kept;
    ++descriptors_;
    return true;
}

bool KeptProcessFiles::replaced(const Kept& kept, const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return true;
    return st.st_dev != kept.device || st.st_ino != kept.inode;
}

std::vector<KeptProcessFiles::Entry>::iterator KeptProcessFiles::position(int32_t pid) {
    return std::lower_bound(entries_.begin(), entries_.end(), pid, [](const Entry& e, int32_t p) { return e.pid < p; });
}

KeptProcessFiles::Entry* KeptProcessFiles::find(int32_t pid) {
    auto it = position(pid);
    return it != entries_.end() && it->pid == pid ? &*it : nullptr;
}

void KeptProcessFiles::closeEntry(Entry& entry) {
    for (Kept& kept : entry.files) {
        if (kept.fd < 0) continue;
        ::close(kept.fd);
        kept.fd = -1;
        --descriptors_;
    }
}

void KeptProcessFiles::keepOnly(const std::vector<int32_t>& pids) {
    if (listingsWithoutKeeping_ > 0) --listingsWithoutKeeping_;
    budget_ = budgetFromLimit();
    // Both ascending: one walk drops the pids the listing lacks and the emptied entries.
    auto listed = pids.begin();
    auto out = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        listed = std::lower_bound(listed, pids.end(), it->pid);
        const bool open = std::any_of(std::begin(it->files), std::end(it->files), [](const Kept& k) { return k.fd >= 0; });
        if (listed == pids.end() || *listed != it->pid || !open) {
            closeEntry(*it);
            continue;
        }
        if (out != it) *out = *it;
        ++out;
    }
    entries_.erase(out, entries_.end());
    // A lowered limit: the highest pids (the newest processes, mostly) are read the old way.
    while (descriptors_ > budget_ && !entries_.empty()) {
        closeEntry(entries_.back());
        entries_.pop_back();
    }
}

void KeptProcessFiles::closeAll() {
    for (Entry& entry : entries_) closeEntry(entry);
    entries_.clear();
}

size_t KeptProcessFiles::budgetFromLimit() const {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur == RLIM_INFINITY) return kMaximumProcesses * kFiles;
    return std::min<size_t>(static_cast<size_t>(limit.rlim_cur / 2), kMaximumProcesses * kFiles);
}

}  // namespace telvo::host
