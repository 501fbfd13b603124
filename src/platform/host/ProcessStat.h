#pragma once
// One process's kernel record as /proc/<pid>/stat gives it: the short command name, the state
// ("Z" and "X" are zombies), the parent, the processor time used and the start time that tells
// a reused pid from the process that had it before, and its number of threads.
#include <cstdint>
#include <string>
#include <string_view>

namespace telvo::host {

struct ProcessStat {
    int32_t pid = 0;
    std::string comm;  // the name between the parentheses, as the kernel wrote it
    char state = '?';
    int32_t ppid = -1;
    uint64_t cpuTicks = 0;   // utime + stime, in clock ticks (ticksPerSecond)
    uint64_t startTime = 0;  // clock ticks after boot
    uint32_t threads = 0;    // num_threads

    bool zombie() const { return state == 'Z' || state == 'X'; }
};

// Parses the text of /proc/<pid>/stat. The name may hold blanks and parentheses, so the fields
// are read after the last ")". False when the text is not such a record.
bool parseProcessStat(std::string_view text, ProcessStat& out);

// Clock ticks per second of the stat file's times (sysconf(_SC_CLK_TCK), 100 when unknown).
double processTicksPerSecond();

}  // namespace telvo::host
