#include "collectors/framework/XMLNumberFormat.h"

#include <charconv>
#include <cmath>

namespace telvo::xmlnumber {

namespace {
// The largest finite double has 309 digits before the point; two after, a sign and a point.
constexpr size_t kFixedRoom = 320;

void appendFixed(std::string& out, double v, int precision) {
    if (!std::isfinite(v)) return;
    char buf[kFixedRoom];
    auto result = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
    if (result.ec == std::errc()) out.append(buf, result.ptr);
}
}  // namespace

void appendValue(std::string& out, double v) { appendFixed(out, v, 2); }
void appendWhole(std::string& out, double v) { appendFixed(out, v, 0); }

void appendInteger(std::string& out, int64_t v) {
    char buf[24];
    auto result = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, result.ptr);
}

std::string value(double v) {
    std::string out;
    appendValue(out, v);
    return out;
}

std::string whole(double v) {
    std::string out;
    appendWhole(out, v);
    return out;
}

std::string integer(int64_t v) {
    std::string out;
    appendInteger(out, v);
    return out;
}

}  // namespace telvo::xmlnumber
