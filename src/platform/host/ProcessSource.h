#pragma once
// The machine's processes as /proc shows them (under ProcRoot, so that tests can hand in a
// fixture tree): the pids of its numeric entries, each process's stat record, its memory, its
// disk byte counters and the full name behind a short name the kernel cut. One reader keeps
// its path and file buffers between calls, so a pass over every process allocates nothing
// once they have grown.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/ProcessStat.h"

namespace telvo::host {

class ProcessSource {
public:
    // The kernel keeps at most 15 bytes of a user process's command name.
    static constexpr size_t kShortNameLength = 15;

    enum class Result {
        ok,
        gone,    // ENOENT or ESRCH: the process ended after it was listed
        failed,  // any other failure; the process may well still run
    };

    // The pids of the numeric entries of /proc, ascending. False when /proc cannot be listed.
    bool listProcesses(std::vector<int32_t>& pids);
    // The process's stat record.
    Result readStat(int32_t pid, ProcessStat& out);
    // The process's memory in bytes: RssAnon + VmSwap of /proc/<pid>/status (kernel threads
    // have neither line and get 0). False when the file cannot be read.
    bool readMemory(int32_t pid, double& bytes);
    // read_bytes and write_bytes of /proc/<pid>/io (readable by root only). False when the
    // file cannot be read or lacks them.
    bool readDiskBytes(int32_t pid, uint64_t& readBytes, uint64_t& writeBytes);
    // The name of the program behind a cut short name: the last component of the executable's
    // path (without " (deleted)"), else the last component of argv[0] when it begins with the
    // short name (daemons rewrite argv[0]), else the short name itself.
    std::string fullName(int32_t pid, const std::string& shortName);

private:
    // The host path of /proc/<pid>/<file> in path_.
    const std::string& pathOf(int32_t pid, const char* file);
    // The whole file into buffer_; false with errno kept.
    bool readFile(int32_t pid, const char* file);

    std::string prefix_;  // the host path of "/proc/", taken again by every listing
    std::string path_;
    std::string buffer_;
};

}  // namespace telvo::host
