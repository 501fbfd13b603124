#pragma once
// The machine's boot time, seconds since 1970, from the "btime" line of /proc/stat. The kernel
// derives it from the wall clock minus the time since boot, in whole seconds, so every daemon
// start of one boot reads the same number unless the wall clock was stepped in between.
#include <cstdint>

namespace telvo::host {

// False when /proc/stat cannot be read or has no "btime" line with a number above 0.
bool readBootTime(int64_t& seconds);

}  // namespace telvo::host
