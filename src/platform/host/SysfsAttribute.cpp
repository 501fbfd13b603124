// The trimmed first line of a sysfs attribute file.
#include "platform/host/SysfsAttribute.h"

#include <fstream>

namespace telvo::host {

std::string trimmedText(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string readSysfsAttribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return "";
    return trimmedText(line);
}

}  // namespace telvo::host
