#pragma once
// Reading the kernel's small text files (/proc/stat, /proc/meminfo, sysfs attributes) in one
// go into a buffer the caller keeps, so that a reader called every second allocates nothing
// once its buffer has grown, plus the number parsing those files need.
#include <cstdint>
#include <string>
#include <string_view>

namespace telvo::host {

// Reads the whole file at `kernelPath` (under ProcRoot) into `buffer`; false when it cannot
// be opened or read (errno kept).
bool readProcFile(const std::string& kernelPath, std::string& buffer);

// Parsing helpers over a view that they advance.
// Skips blanks and tabs.
void skipBlanks(std::string_view& text);
// An unsigned decimal number; false (text unchanged) when none starts here after blanks.
bool parseUnsigned(std::string_view& text, uint64_t& value);
// A decimal number with an optional fraction ("0.52"); false when none starts here.
bool parseDecimal(std::string_view& text, double& value);
// The next line without its line feed; false at the end of the text.
bool nextLine(std::string_view& text, std::string_view& line);

// A kernel CPU list such as "0-3,5,7-8" as the highest index + 1 and the members' count;
// false when the text holds no valid list.
struct CPUList {
    int count = 0;    // members
    int highest = -1; // highest member
};
bool parseCPUList(std::string_view text, CPUList& list, bool (*visit)(int, void*) = nullptr, void* context = nullptr);

}  // namespace telvo::host
