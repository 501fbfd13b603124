// Parsing of a process's stat record.
#include "platform/host/ProcessStat.h"

#include <unistd.h>

#include "platform/host/ProcFile.h"

namespace telvo::host {

namespace {

// Skips one blank-separated field.
bool skipField(std::string_view& t) {
    skipBlanks(t);
    size_t i = 0;
    while (i < t.size() && t[i] != ' ' && t[i] != '\n') ++i;
    if (i == 0) return false;
    t.remove_prefix(i);
    return true;
}

}  // namespace

bool parseProcessStat(std::string_view text, ProcessStat& out) {
    // "pid (comm) state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt
    //  utime stime cutime cstime priority nice num_threads itrealvalue starttime ..."
    std::string_view t = text;
    uint64_t pid = 0;
    if (!parseUnsigned(t, pid)) return false;
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    out.pid = static_cast<int32_t>(pid);
    out.comm.assign(text.substr(open + 1, close - open - 1));
    t = text.substr(close + 1);
    skipBlanks(t);
    if (t.empty()) return false;
    out.state = t[0];
    t.remove_prefix(1);
    uint64_t ppid = 0;
    if (!parseUnsigned(t, ppid)) return false;
    out.ppid = static_cast<int32_t>(ppid);
    // pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt (tty_nr and tpgid may be
    // negative, so they are skipped as text).
    for (int i = 0; i < 9; ++i)
        if (!skipField(t)) return false;
    uint64_t utime = 0, stime = 0;
    if (!parseUnsigned(t, utime) || !parseUnsigned(t, stime)) return false;
    // cutime cstime priority nice (nice may be negative), num_threads, itrealvalue
    for (int i = 0; i < 4; ++i)
        if (!skipField(t)) return false;
    uint64_t threads = 0;
    if (!parseUnsigned(t, threads) || !skipField(t)) return false;
    uint64_t start = 0;
    if (!parseUnsigned(t, start)) return false;
    out.cpuTicks = utime + stime;
    out.threads = static_cast<uint32_t>(threads);
    out.startTime = start;
    return true;
}

double processTicksPerSecond() {
    static const double ticks = [] {
        const long t = ::sysconf(_SC_CLK_TCK);
        return t > 0 ? static_cast<double>(t) : 100.0;
    }();
    return ticks;
}

}  // namespace telvo::host
