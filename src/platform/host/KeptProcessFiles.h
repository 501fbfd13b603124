#pragma once
// The per-process /proc files that the sampler reads every second (stat, statm, status, io),
// kept open between passes and read again from offset 0, so that a pass opens only new ones.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telvo::host {

class KeptProcessFiles {
public:
    enum class File : uint8_t { stat, statm, status, io };
    static constexpr size_t kFiles = 4;
    // No process beyond this many gets descriptors kept (a fork bomb is read the old way).
    static constexpr size_t kMaximumProcesses = 4096;
    // Listings that go by without keeping anything once opening ran out of descriptors.
    static constexpr int kListingsWithoutKeeping = 60;

    KeptProcessFiles() = default;
    ~KeptProcessFiles() { closeAll(); }
    KeptProcessFiles(const KeptProcessFiles&) = delete;
    KeptProcessFiles& operator=(const KeptProcessFiles&) = delete;

    enum class Read {
        ok,
        ended,   // the kept descriptor was of a process that has ended (errno ESRCH)
        failed,  // errno kept
    };
    // Reads `file` of `pid` whole into `buffer` (empty when it could not be read). `path` is
    // its host path: it is opened by that path only when no descriptor of it is kept. A kept
    // descriptor whose process ended (ESRCH or nothing read) is closed with every other one
    // of that pid; the file is then opened by its path again only when `openAfterEnd` says
    // so, which reads whatever process holds the pid now. A file outside procfs (a test's
    // fixture tree) cannot tell that way: it counts as ended once its path names another
    // file or none.
    Read read(int32_t pid, File file, const std::string& path, std::string& buffer, bool openAfterEnd);

    // After a listing (ascending pids): closes the files of every pid it lacks, and takes the
    // descriptor budget again from the process's limit, closing files beyond it.
    void keepOnly(const std::vector<int32_t>& pids);
    void closeAll();

    size_t processes() const { return entries_.size(); }
    size_t descriptors() const { return descriptors_; }
    // At most half of the soft RLIMIT_NOFILE, so that the daemon's sockets are never short
    // of descriptors because of the process files.
    size_t budget() const { return budget_; }

    // Reads an open file whole into `buffer` from offset 0; false with errno kept. A file the
    // kernel writes in one go (stat, statm, status, io) is whole after a read that did not
    // fill the buffer.
    static bool readWhole(int fd, std::string& buffer);

private:
    struct Kept {
        int fd = -1;
        // Outside procfs: the file the descriptor was opened on.
        bool procfs = true;
        dev_t device = 0;
        ino_t inode = 0;
    };
    struct Entry {
        int32_t pid = 0;
        Kept files[kFiles];
    };

    // Where the pid's entry is, or would go (entries are by pid).
    std::vector<Entry>::iterator position(int32_t pid);
    Entry* find(int32_t pid);
    void closeEntry(Entry& entry);
    // Whether a kept file outside procfs no longer is the file at `path`.
    static bool replaced(const Kept& kept, const std::string& path);
    // Keeps `fd`, just opened on `path`, as `file` of `pid` when the limits allow; false when
    // it is not kept (the caller closes it).
    bool keep(int32_t pid, File file, int fd);
    size_t budgetFromLimit() const;

    std::vector<Entry> entries_;  // by pid, ascending
    size_t descriptors_ = 0;
    size_t budget_ = budgetFromLimit();
    int listingsWithoutKeeping_ = 0;
};

}  // namespace telvo::host
