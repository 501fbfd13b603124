// Per-processor tick counters from /proc/stat.
#include "platform/host/ProcessorTicks.h"

#include "platform/host/ProcFile.h"

namespace telvo::host {

bool ProcessorTickReader::read(std::vector<ProcessorTicks>& out) {
    out.clear();
    if (!readProcFile("/proc/stat", buffer_)) return false;
    std::string_view text(buffer_);
    std::string_view line;
    while (nextLine(text, line)) {
        // "cpuN user nice system idle iowait irq softirq steal guest guest_nice"; the
        // summary line "cpu " has no number and is skipped.
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || line[3] < '0' || line[3] > '9') continue;
        line.remove_prefix(3);
        uint64_t n = 0;
        if (!parseUnsigned(line, n)) continue;
        uint64_t f[8] = {};
        int fields = 0;
        while (fields < 8 && parseUnsigned(line, f[fields])) ++fields;
        if (fields < 4) continue;  // not even user, nice, system, idle: not a record we know
        ProcessorTicks t;
        t.processor = static_cast<int>(n);
        t.user = f[0];
        t.nice = f[1];
        t.system = f[2] + f[5] + f[6];
        t.idle = f[3] + f[4];
        t.steal = f[7];
        out.push_back(t);
    }
    return !out.empty();
}

}  // namespace telvo::host
