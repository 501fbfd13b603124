// Whole-file reads of kernel statistics files and the number parsing they need.
#include "platform/host/ProcFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/host/ProcRoot.h"

namespace telvo::host {

bool readProcFile(const std::string& kernelPath, std::string& buffer) {
    buffer.clear();
    const std::string path = ProcRoot::path(kernelPath);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Files under /proc report size 0, so read until the end whatever stat says.
    if (buffer.capacity() < 4096) buffer.reserve(4096);
    size_t used = 0;
    for (;;) {
        if (buffer.capacity() - used < 1024) buffer.reserve(buffer.capacity() * 2);
        buffer.resize(buffer.capacity());
        ssize_t n = ::read(fd, buffer.data() + used, buffer.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            buffer.clear();
            errno = saved;
            return false;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    buffer.resize(used);
    ::close(fd);
    return true;
}

void skipBlanks(std::string_view& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    text.remove_prefix(i);
}

bool parseUnsigned(std::string_view& text, uint64_t& value) {
    std::string_view t = text;
    skipBlanks(t);
    if (t.empty() || t[0] < '0' || t[0] > '9') return false;
    uint64_t v = 0;
    size_t i = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        v = v * 10 + static_cast<uint64_t>(t[i] - '0');
        ++i;
    }
    t.remove_prefix(i);
    text = t;
    value = v;
    return true;
}

bool parseDecimal(std::string_view& text, double& value) {
    std::string_view t = text;
    skipBlanks(t);
    uint64_t whole = 0;
    if (!parseUnsigned(t, whole)) return false;
    double v = static_cast<double>(whole);
    if (!t.empty() && t[0] == '.') {
        t.remove_prefix(1);
        double scale = 0.1;
        while (!t.empty() && t[0] >= '0' && t[0] <= '9') {
            v += (t[0] - '0') * scale;
            scale /= 10;
            t.remove_prefix(1);
        }
    }
    text = t;
    value = v;
    return true;
}

bool nextLine(std::string_view& text, std::string_view& line) {
    if (text.empty()) return false;
    size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        line = text;
        text = std::string_view();
    } else {
        line = text.substr(0, end);
        text.remove_prefix(end + 1);
    }
    return true;
}

bool parseCPUList(std::string_view text, CPUList& list, bool (*visit)(int, void*), void* context) {
    list = CPUList{};
    bool any = false;
    while (!text.empty()) {
        skipBlanks(text);
        if (!text.empty() && (text[0] == '\n' || text[0] == '\r')) break;
        uint64_t first = 0;
        if (!parseUnsigned(text, first)) return false;
        uint64_t last = first;
        if (!text.empty() && text[0] == '-') {
            text.remove_prefix(1);
            if (!parseUnsigned(text, last) || last < first) return false;
        }
        if (last > 65535) return false;
        for (uint64_t c = first; c <= last; ++c) {
            if (visit && !visit(static_cast<int>(c), context)) return false;
            ++list.count;
            if (static_cast<int>(c) > list.highest) list.highest = static_cast<int>(c);
        }
        any = true;
        if (!text.empty() && text[0] == ',') text.remove_prefix(1);
        else break;
    }
    return any;
}

}  // namespace telvo::host
