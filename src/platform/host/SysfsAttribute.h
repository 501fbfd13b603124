#pragma once
// One sysfs attribute as text: the first line of a file such as "/sys/block/sda/dev" without
// the blanks around it, as the disk and device readers want it.
#include <filesystem>
#include <string>

namespace telvo::host {

// `s` without leading and trailing blanks, tabs and line ends.
std::string trimmedText(const std::string& s);
// The trimmed first line of the attribute file at the host path `file`; empty when it cannot
// be read.
std::string readSysfsAttribute(const std::filesystem::path& file);

}  // namespace telvo::host
