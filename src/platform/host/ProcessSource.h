#pragma once
// The machine's processes as /proc shows them (under ProcRoot, so that tests can hand in a
// fixture tree): the pids of its numeric entries, each process's stat record, its memory, its
// disk byte counters and the full name behind a short name the kernel cut. One reader keeps
// its path and file buffers between calls, so a pass over every process allocates nothing
// once they have grown, and keeps each listed process's files open (KeptProcessFiles), so
// that a pass opens only the files of processes it has not read before. Its reads are
// virtual, so that tests can stand in for the machine.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/KeptProcessFiles.h"
#include "platform/host/ProcessStat.h"

namespace telvo::host {

class ProcessSource {
public:
    // The kernel keeps at most 15 bytes of a user process's command name.
    static constexpr size_t kShortNameLength = 15;
    // A full name is at most this long, as a file name is.
    static constexpr size_t kMaximumNameLength = 255;

    virtual ~ProcessSource() = default;

    enum class Result {
        ok,
        gone,    // ENOENT or ESRCH: the process ended after it was listed
        failed,  // any other failure; the process may well still run
    };

    // The pids of the numeric entries of /proc, ascending. False when /proc cannot be listed.
    // Also looks, once per listing, whether any swap space is in use (see readMemory), and
    // closes the kept files of the pids it no longer lists (all of them when /proc cannot
    // be listed, or is another folder than the last listing's).
    virtual bool listProcesses(std::vector<int32_t>& pids);
    // The process's stat record. A kept stat file of a process that has ended is closed
    // with the rest of its files, and whatever process holds the pid now is read from a
    // file opened anew (a new start time tells the caller that it is another process).
    virtual Result readStat(int32_t pid, ProcessStat& out);
    // The process's memory in bytes: its anonymous resident memory plus what of it is swapped
    // out (RssAnon + VmSwap of /proc/<pid>/status; kernel threads have neither and get 0).
    // While the last listing found no swap in use, the cheaper /proc/<pid>/statm gives the
    // same (resident less file-backed and shared pages). False when the file cannot be read.
    // This and readDiskBytes read the process whose stat record was read: once a kept file
    // shows that it has ended, they answer false rather than read another process by the pid.
    virtual bool readMemory(int32_t pid, double& bytes);
    // read_bytes and write_bytes of /proc/<pid>/io (readable by root only). False when the
    // file cannot be read or lacks them.
    virtual bool readDiskBytes(int32_t pid, uint64_t& readBytes, uint64_t& writeBytes);
    // The name of the program behind a cut short name: the last component of the executable's
    // path (without " (deleted)"), else the last component of argv[0] when it begins with the
    // short name (daemons rewrite argv[0]), else the short name itself. At most
    // kMaximumNameLength bytes of argv[0]'s last component are kept (the caller cuts the
    // name on a character boundary).
    virtual std::string fullName(int32_t pid, const std::string& shortName);

private:
    // The host path of /proc/<pid>/<file> in path_.
    const std::string& pathOf(int32_t pid, const char* file);
    // The whole file into buffer_, through its kept descriptor when there is one; false with
    // errno kept (ESRCH: the kept file's process has ended). `openAfterEnd`: see
    // KeptProcessFiles::read.
    bool readFile(int32_t pid, KeptProcessFiles::File file, bool openAfterEnd);
    // Whether the machine has swap space in use, by /proc/meminfo; true when unknown.
    bool swapInUse();
    // The last component of argv[0], at most kMaximumNameLength + 3 bytes of it; empty when
    // the command line cannot be read.
    std::string argv0Name(int32_t pid);

    std::string prefix_;  // the host path of "/proc/", taken again by every listing
    std::string path_;
    std::string buffer_;
    bool swapInUse_ = true;
    KeptProcessFiles kept_;
};

}  // namespace telvo::host
