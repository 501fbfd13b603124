#include "foundation/DaemonLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace telvo {
namespace {

struct State {
    std::mutex mutex;
    std::string path;
    FILE* stream = nullptr;
    uint64_t limit = DaemonLogFile::kMaximumSize;
    uint64_t size = 0;
};

State& state() {
    static State* s = new State();
    return *s;
}

// The log is read by the control application, which runs as the user: a file made here is
// readable by everyone whatever the daemon's umask. An existing file keeps its mode.
constexpr mode_t kNewFileMode = 0644;

// freopen closes the stream when it fails; open the file once on its own first, so that a
// path that cannot be opened leaves the stream as it was.
bool reopen(const std::string& path, FILE* stream) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0) {
        (void)::fchmod(fd, kNewFileMode);
        ::close(fd);
    } else if (errno != EEXIST) {
        return false;
    }
    FILE* probe = std::fopen(path.c_str(), "a+");
    if (!probe) return false;
    std::fclose(probe);
    return std::freopen(path.c_str(), "a+", stream) != nullptr;
}

uint64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

}  // namespace

bool DaemonLogFile::open(const std::string& hostPath, FILE* stream, uint64_t maximumSize) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!reopen(hostPath, stream)) return false;
    s.path = hostPath;
    s.stream = stream;
    s.limit = maximumSize;
    s.size = fileSize(hostPath);
    return true;
}

void DaemonLogFile::didWrite(FILE* stream, size_t bytes) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.stream || stream != s.stream) return;
    s.size += bytes;
    if (s.size <= s.limit) return;
    std::fflush(stream);
    // Whatever happens below, the stream keeps writing somewhere: into the renamed file when
    // the new one cannot be opened.
    std::string rolled = s.path + ".1";
    if (std::rename(s.path.c_str(), rolled.c_str()) != 0) {
        s.size = fileSize(s.path);
        if (s.size > s.limit) s.size = 0;  // cannot roll: try again after another limit's worth
        return;
    }
    if (!reopen(s.path, stream)) {
        // Keeps writing to the renamed file; the next roll tries again.
        s.size = 0;
        return;
    }
    s.size = 0;
}

void DaemonLogFile::resetForTesting() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.path.clear();
    s.stream = nullptr;
    s.size = 0;
    s.limit = kMaximumSize;
}

}  // namespace telvo
