#include "app/delegate/Formatters.h"

#include <cmath>

#include "platform/values/Format.h"

namespace telvo::app {

std::string formattedBandwidth(double bytes) {
    double k = bytes / 1024;
    if (k <= 1024) return format("%.0f%@", k, "KB");
    if (k <= 1048576.0) return format("%.2f%@", k / 1024, "MB");
    if (k <= 1073741824.0) return format("%.2f%@", k / 1048576.0, "GB");
    return format("%.2f%@", k / 1073741824.0, "TB");
}

std::string formattedTime(double t) {
    int d = int(std::trunc(t / 86400));
    t -= d * 86400.0;
    int h = int(std::trunc(t / 3600));
    t -= h * 3600.0;
    int m = int(std::trunc(t / 60));
    double s = t - m * 60.0;
    return format("%id, %ih, %im, %.0fs", d, h, m, s);
}

}  // namespace telvo::app
