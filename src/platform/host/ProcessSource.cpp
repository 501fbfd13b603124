// Reading the process files of /proc.
#include "platform/host/ProcessSource.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/host/ProcFile.h"
#include "platform/host/ProcRoot.h"

namespace telvo::host {

namespace {

// The value of a "Name:   1234 kB" line of a status file, 0 when the line is absent.
uint64_t statusField(std::string_view text, std::string_view name) {
    std::string_view line;
    while (nextLine(text, line)) {
        if (line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == ':') {
            std::string_view rest = line.substr(name.size() + 1);
            uint64_t v = 0;
            return parseUnsigned(rest, v) ? v : 0;
        }
    }
    return 0;
}

std::string_view lastComponent(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ProcessSource::listProcesses(std::vector<int32_t>& pids) {
    pids.clear();
    std::string prefix = ProcRoot::path("/proc/");
    // Files kept under another root are not this one's.
    if (prefix != prefix_) kept_.closeAll();
    prefix_ = std::move(prefix);
    const std::string path = ProcRoot::path("/proc");
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        kept_.closeAll();
        return false;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9') continue;
        int32_t pid = 0;
        const char* end = name + std::char_traits<char>::length(name);
        auto [ptr, ec] = std::from_chars(name, end, pid);
        if (ec == std::errc() && ptr == end) pids.push_back(pid);
    }
    ::closedir(dir);
    // The kernel lists by pid already; a fixture's folder need not.
    if (!std::is_sorted(pids.begin(), pids.end())) std::sort(pids.begin(), pids.end());
    kept_.keepOnly(pids);
    swapInUse_ = swapInUse();
    return true;
}

bool ProcessSource::swapInUse() {
    if (!readProcFile("/proc/meminfo", buffer_)) return true;
    std::string_view text(buffer_), line;
    bool haveTotal = false, haveFree = false;
    uint64_t total = 0, free = 0;
    while (nextLine(text, line)) {
        std::string_view rest;
        if (line.substr(0, 10) == "SwapTotal:") {
            rest = line.substr(10);
            haveTotal = parseUnsigned(rest, total);
        } else if (line.substr(0, 9) == "SwapFree:") {
            rest = line.substr(9);
            haveFree = parseUnsigned(rest, free);
        }
    }
    return !(haveTotal && haveFree && free >= total);
}

const std::string& ProcessSource::pathOf(int32_t pid, const char* file) {
    if (prefix_.empty()) prefix_ = ProcRoot::path("/proc/");
    path_.assign(prefix_);
    char digits[16];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, pid);
    (void)ec;
    path_.append(digits, end);
    path_ += '/';
    path_ += file;
    return path_;
}

bool ProcessSource::readFile(int32_t pid, KeptProcessFiles::File file, bool openAfterEnd) {
    static constexpr const char* kNames[KeptProcessFiles::kFiles] = {"stat", "statm", "status", "io"};
    const char* name = kNames[static_cast<size_t>(file)];
    return kept_.read(pid, file, pathOf(pid, name), buffer_, openAfterEnd) == KeptProcessFiles::Read::ok;
}

ProcessSource::Result ProcessSource::readStat(int32_t pid, ProcessStat& out) {
    if (!readFile(pid, KeptProcessFiles::File::stat, true)) return errno == ENOENT || errno == ESRCH ? Result::gone : Result::failed;
    // A process that ended between open and read leaves an empty file.
    if (buffer_.empty()) return Result::gone;
    return parseProcessStat(buffer_, out) ? Result::ok : Result::failed;
}

bool ProcessSource::readMemory(int32_t pid, double& bytes) {
    // The stand-in for a process's physical footprint: its anonymous resident memory plus what
    // of it is swapped out. Shared memory (RssShmem) is left out, since every process that maps
    // a segment would count it again, and so are mapped files (RssFile), which the kernel can
    // drop at any time.
    if (!swapInUse_) {
        // "size resident shared ...", in pages; resident less shared is the anonymous part.
        if (!readFile(pid, KeptProcessFiles::File::statm, false)) return false;
        std::string_view text(buffer_);
        uint64_t size = 0, resident = 0, shared = 0;
        if (!parseUnsigned(text, size) || !parseUnsigned(text, resident) || !parseUnsigned(text, shared)) return false;
        static const double pageSize = static_cast<double>(::sysconf(_SC_PAGESIZE));
        bytes = resident > shared ? static_cast<double>(resident - shared) * pageSize : 0;
        return true;
    }
    if (!readFile(pid, KeptProcessFiles::File::status, false)) return false;
    const uint64_t anonymous = statusField(buffer_, "RssAnon");
    const uint64_t swapped = statusField(buffer_, "VmSwap");
    bytes = static_cast<double>(anonymous + swapped) * 1024.0;
    return true;
}

bool ProcessSource::readDiskBytes(int32_t pid, uint64_t& readBytes, uint64_t& writeBytes) {
    if (!readFile(pid, KeptProcessFiles::File::io, false)) return false;
    bool haveRead = false, haveWrite = false;
    std::string_view text(buffer_), line;
    while (nextLine(text, line)) {
        std::string_view rest;
        if (line.substr(0, 11) == "read_bytes:") {
            rest = line.substr(11);
            haveRead = parseUnsigned(rest, readBytes);
        } else if (line.substr(0, 12) == "write_bytes:") {
            rest = line.substr(12);
            haveWrite = parseUnsigned(rest, writeBytes);
        }
    }
    return haveRead && haveWrite;
}

std::string ProcessSource::fullName(int32_t pid, const std::string& shortName) {
    char target[4096];
    const ssize_t n = ::readlink(pathOf(pid, "exe").c_str(), target, sizeof target);
    if (n > 0 && static_cast<size_t>(n) < sizeof target) {
        std::string_view path(target, static_cast<size_t>(n));
        static constexpr std::string_view kDeleted = " (deleted)";
        if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted)
            path.remove_suffix(kDeleted.size());
        const std::string_view name = lastComponent(path);
        if (!name.empty()) return std::string(name);
    }
    const std::string name = argv0Name(pid);
    if (!name.empty() && name.size() >= shortName.size() && name.compare(0, shortName.size(), shortName) == 0)
        return name;
    return shortName;
}

std::string ProcessSource::argv0Name(int32_t pid) {
    // argv[0] may be as long as the arguments may be: it is read in pieces up to its end (the
    // first NUL), keeping only the start of the text after its last "/".
    static constexpr size_t kKept = kMaximumNameLength + 3;  // room to cut on a character boundary
    std::string name;
    const int fd = ::open(pathOf(pid, "cmdline").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return name;
    char piece[4096];
    bool ended = false;
    while (!ended) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = piece[i];
            if (c == '\0') {
                ended = true;
                break;
            }
            if (c == '/')
                name.clear();
            else if (name.size() < kKept)
                name.push_back(c);
        }
    }
    ::close(fd);
    return name;
}

}  // namespace telvo::host
