// Load averages from /proc/loadavg ("0.52 0.58 0.59 1/389 12345").
#include "platform/host/LoadAverages.h"

#include "platform/host/ProcFile.h"

namespace telvo::host {

bool LoadAverageReader::read(LoadAverages& out) {
    if (!readProcFile("/proc/loadavg", buffer_)) return false;
    std::string_view t(buffer_);
    LoadAverages l;
    if (!parseDecimal(t, l.one) || !parseDecimal(t, l.five) || !parseDecimal(t, l.fifteen)) return false;
    out = l;
    return true;
}

}  // namespace telvo::host
