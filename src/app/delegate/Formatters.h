#pragma once
// The clients table's display texts: bytes sent as "<n>KB" (no decimals, up to 1024 KB) or
// "<n.nn>MB", "GB", "TB"; seconds connected as "<d>d, <h>h, <m>m, <s>s" (seconds rounded by
// the format, so 59.6 s reads "0d, 0h, 0m, 60s").
#include <string>

namespace telvo::app {

std::string formattedBandwidth(double bytes);
std::string formattedTime(double seconds);

}  // namespace telvo::app
