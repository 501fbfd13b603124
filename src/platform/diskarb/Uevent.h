#pragma once
// One kernel device event as the kernel's uevent netlink socket delivers it: a header
// "ACTION@DEVPATH" and NUL-separated "KEY=VALUE" pairs. Messages of udev's own framing
// ("libudev" header) and malformed ones are refused.
#include <cstddef>
#include <map>
#include <string>

namespace telvo::diskarb {

struct Uevent {
    std::string action;     // "add", "remove", "change", "move", "online", ...
    std::string devpath;    // "/devices/virtual/block/loop0"
    std::string subsystem;  // "block", "net", ...
    std::map<std::string, std::string> keys;  // every pair, ACTION and DEVPATH included
};

bool parseUevent(const char* data, size_t length, Uevent& event);

}  // namespace telvo::diskarb
