// Sysfs attribute reading.
#include "platform/power/SysfsAttribute.h"

#include <string_view>

#include "platform/host/ProcFile.h"

namespace telvo::power {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<std::string> SysfsAttributeReader::text(const std::string& kernelPath) {
    if (!host::readProcFile(kernelPath, buffer_)) return std::nullopt;
    return std::string(trimmed(buffer_));
}

std::optional<std::string> SysfsAttributeReader::nonBlankText(const std::string& kernelPath) {
    auto t = text(kernelPath);
    if (!t || t->find_first_not_of(" \t") == std::string::npos) return std::nullopt;
    return t;
}

std::optional<int64_t> SysfsAttributeReader::integer(const std::string& kernelPath) {
    if (!host::readProcFile(kernelPath, buffer_)) return std::nullopt;
    std::string_view s = trimmed(buffer_);
    host::skipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
    if (!host::parseUnsigned(s, magnitude) || !s.empty()) return std::nullopt;
    if (magnitude > uint64_t(INT64_MAX)) return std::nullopt;
    return negative ? -int64_t(magnitude) : int64_t(magnitude);
}

}  // namespace telvo::power
