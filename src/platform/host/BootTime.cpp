// The "btime" line of /proc/stat.
#include "platform/host/BootTime.h"

#include <string>

#include "platform/host/ProcFile.h"

namespace telvo::host {

bool readBootTime(int64_t& seconds) {
    std::string buffer;
    if (!readProcFile("/proc/stat", buffer)) return false;
    std::string_view text(buffer);
    std::string_view line;
    while (nextLine(text, line)) {
        if (line.size() < 6 || line.compare(0, 6, "btime ") != 0) continue;
        line.remove_prefix(6);
        uint64_t v = 0;
        if (!parseUnsigned(line, v) || v == 0 || v > static_cast<uint64_t>(INT64_MAX)) return false;
        seconds = static_cast<int64_t>(v);
        return true;
    }
    return false;
}

}  // namespace telvo::host
