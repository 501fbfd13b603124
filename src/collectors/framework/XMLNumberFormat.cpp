#include "collectors/framework/XMLNumberFormat.h"

#include <cmath>
#include <cstdio>

namespace telvo::xmlnumber {

namespace {
std::string printed(const char* fmt, double v) {
    if (!std::isfinite(v)) return std::string();
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, fmt, v);
    if (n < 0) return std::string();
    if (n < static_cast<int>(sizeof buf)) return std::string(buf, n);
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt, v);
    big.resize(n);
    return big;
}
}  // namespace

std::string value(double v) { return printed("%.2f", v); }
std::string whole(double v) { return printed("%.0f", v); }

std::string integer(int64_t v) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%lli", static_cast<long long>(v));
    return std::string(buf, n > 0 ? n : 0);
}

}  // namespace telvo::xmlnumber
