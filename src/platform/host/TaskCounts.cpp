// Task and thread counts from /proc.
#include "platform/host/TaskCounts.h"

#include <dirent.h>

#include "platform/host/ProcFile.h"
#include "platform/host/ProcRoot.h"

namespace telvo::host {

bool TaskCountReader::readTasks(int& tasks) {
    const std::string path = ProcRoot::path("/proc");
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    int count = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9') continue;
        bool numeric = true;
        for (const char* c = name; *c; ++c)
            if (*c < '0' || *c > '9') {
                numeric = false;
                break;
            }
        if (numeric) ++count;
    }
    ::closedir(dir);
    tasks = count;
    return true;
}

bool TaskCountReader::readThreads(int& threads) {
    if (!readProcFile("/proc/loadavg", buffer_)) return false;
    std::string_view t(buffer_);
    double skip = 0;
    for (int i = 0; i < 3; ++i)
        if (!parseDecimal(t, skip)) return false;
    uint64_t running = 0, total = 0;
    if (!parseUnsigned(t, running) || t.empty() || t[0] != '/') return false;
    t.remove_prefix(1);
    if (!parseUnsigned(t, total)) return false;
    threads = static_cast<int>(total);
    return true;
}

}  // namespace telvo::host
