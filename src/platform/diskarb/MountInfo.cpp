#include "platform/diskarb/MountInfo.h"

#include <charconv>

namespace telvo::diskarb {
namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) break;
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

template <class T>
bool number(std::string_view text, T& value) {
    if (text.empty()) return false;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string decodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            const int byte = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (byte <= 0xff) {
                out += static_cast<char>(byte);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const auto f = splitFields(line);
        // At least: id, parent, dev, root, mount point, options, "-", type, source.
        if (f.size() < 9) continue;
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (dash + 2 >= f.size()) continue;
        MountEntry e;
        const size_t colon = f[2].find(':');
        if (colon == std::string_view::npos || !number(f[0], e.mountID) || !number(f[1], e.parentID) ||
            !number(f[2].substr(0, colon), e.major) || !number(f[2].substr(colon + 1), e.minor))
            continue;
        e.root = decodeMountField(f[3]);
        e.mountPoint = decodeMountField(f[4]);
        e.options = std::string(f[5]);
        e.fsType = decodeMountField(f[dash + 1]);
        e.source = decodeMountField(f[dash + 2]);
        if (dash + 3 < f.size()) e.superOptions = decodeMountField(f[dash + 3]);
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace telvo::diskarb
