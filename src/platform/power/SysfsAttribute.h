#pragma once
// Reading one sysfs attribute of a device folder (under host::ProcRoot) as text or as a whole
// number. A file that is missing, unreadable, blank or (for numbers) holds anything but one
// decimal integer gives no value.
#include <cstdint>
#include <optional>
#include <string>

namespace telvo::power {

class SysfsAttributeReader {
public:
    // The file's text without its trailing line feed and blanks; none when it cannot be read.
    std::optional<std::string> text(const std::string& kernelPath);
    // The text, or none when it is blank.
    std::optional<std::string> nonBlankText(const std::string& kernelPath);
    // A signed decimal integer filling the whole file (blanks around it allowed).
    std::optional<int64_t> integer(const std::string& kernelPath);

private:
    std::string buffer_;
};

}  // namespace telvo::power
