#pragma once
// The processors' tick counters, the stand-in for the kernel's per-processor load record:
// one record per "cpuN" line of /proc/stat, in line order, carrying the processor number N
// (an offline processor has no line, so numbers can jump; they never shift).
//
// The kernel's ten fields fold into the four counters the collectors work with:
//   user   = user            (guest time is already counted inside user)
//   nice   = nice            (guest_nice is already counted inside nice)
//   system = system + irq + softirq
//   idle   = idle + iowait
// and `steal` (time the hypervisor gave to others) is kept apart: it belongs to no state
// but counts in the total, so a loaded virtual machine does not look busier than it is.
#include <cstdint>
#include <string>
#include <vector>

namespace telvo::host {

struct ProcessorTicks {
    int processor = 0;  // N of "cpuN"
    uint64_t user = 0;
    uint64_t system = 0;
    uint64_t idle = 0;
    uint64_t nice = 0;
    uint64_t steal = 0;

    uint64_t total() const { return user + system + idle + nice + steal; }
};

class ProcessorTickReader {
public:
    // Fills `out` (reusing its storage) from /proc/stat; false when the file cannot be read
    // or holds no processor line, `out` then being empty.
    bool read(std::vector<ProcessorTicks>& out);

private:
    std::string buffer_;
};

}  // namespace telvo::host
