#include "platform/diskarb/Uevent.h"

#include <string_view>

namespace telvo::diskarb {

bool parseUevent(const char* data, size_t length, Uevent& event) {
    if (!data || length == 0) return false;
    const std::string_view message(data, length);
    const size_t headerEnd = message.find('\0');
    const std::string_view header = message.substr(0, headerEnd);
    const size_t at = header.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= header.size()) return false;
    event = Uevent{};
    event.action = std::string(header.substr(0, at));
    event.devpath = std::string(header.substr(at + 1));
    if (headerEnd == std::string_view::npos) return false;
    size_t pos = headerEnd + 1;
    while (pos < message.size()) {
        size_t end = message.find('\0', pos);
        if (end == std::string_view::npos) end = message.size();
        const std::string_view pair = message.substr(pos, end - pos);
        pos = end + 1;
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        event.keys[std::string(pair.substr(0, equals))] = std::string(pair.substr(equals + 1));
    }
    // The pairs repeat the header; a message whose pairs disagree with it is no kernel message.
    auto action = event.keys.find("ACTION");
    auto devpath = event.keys.find("DEVPATH");
    if (action == event.keys.end() || devpath == event.keys.end()) return false;
    if (action->second != event.action || devpath->second != event.devpath) return false;
    if (auto sub = event.keys.find("SUBSYSTEM"); sub != event.keys.end()) event.subsystem = sub->second;
    return true;
}

}  // namespace telvo::diskarb
