// Resolution of the components' literal paths under the file-system root.
#include "platform/fs/Root.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace telvo::fs {

namespace {

std::mutex& rootMutex() {
    static std::mutex m;
    return m;
}

std::string& testingRoot() {
    static std::string r;
    return r;
}

// "/a//b/" -> "/a/b" (no trailing slash; "/" stays "/").
std::string trimmedFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// Lexically removes "." and ".." and repeated slashes from an absolute path, never climbing
// above "/", so that a path cannot leave the root it is placed under. A trailing slash is kept.
std::string normalised(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') ++i;
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(i, end - i);
        i = end;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    if (out.empty()) return "/";
    if (path.back() == '/') out += '/';
    return out;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result && result->pw_dir) return result->pw_dir;
    return "/";
}

}  // namespace

std::string root() {
    {
        std::lock_guard<std::mutex> lock(rootMutex());
        if (!testingRoot().empty()) return testingRoot();
    }
    const char* env = std::getenv("TELVO_ROOT");
    if (!env || !*env) return "/";
    return trimmedFolder(env);
}

void setRootForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(rootMutex());
    testingRoot() = folder.empty() ? std::string() : trimmedFolder(folder);
}

std::string expandTilde(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    if (path.size() == 1) return homeFolder();
    if (path[1] != '/') return path;  // "~user" is not supported; kept as it is
    std::string home = trimmedFolder(homeFolder());
    if (home == "/") return path.substr(1);
    return home + path.substr(1);
}

std::string resolve(const std::string& path) {
    if (path.empty()) return path;
    if (path[0] == '~') return expandTilde(path);
    if (path[0] != '/') return path;
    const std::string r = root();
    if (r == "/") return path;
    // A path resolved once before is not moved a second time.
    std::string logical = path;
    if (path.compare(0, r.size(), r) == 0 && (path.size() == r.size() || path[r.size()] == '/')) {
        logical = path.size() == r.size() ? std::string("/") : path.substr(r.size());
    }
    std::string n = normalised(logical);
    if (n == "/") return r + "/";
    return r + n;
}

bool logicalPath(const std::string& hostPath, std::string& logical) {
    logical.clear();
    if (hostPath.empty() || hostPath[0] != '/') return false;
    const std::string n = normalised(hostPath);
    const std::string r = root();
    if (r == "/") {
        logical = n;
        return true;
    }
    if (n.compare(0, r.size(), r) != 0) return false;
    if (n.size() == r.size()) {
        logical = "/";
        return true;
    }
    if (n[r.size()] != '/') return false;
    logical = n.substr(r.size());
    return true;
}

std::string systemAttributeName(const std::string& name) {
    return name.rfind("user.", 0) == 0 ? name : "user." + name;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(resolve(path).c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(resolve(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool createDirectories(const std::string& path, unsigned mode) {
    const std::string host = resolve(path);
    if (host.empty()) {
        errno = ENOENT;
        return false;
    }
    size_t pos = 0;
    while (true) {
        pos = host.find('/', pos + 1);
        std::string prefix = host.substr(0, pos);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
        if (pos == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool removeFile(const std::string& path) {
    return ::unlink(resolve(path).c_str()) == 0;
}

bool readDescriptor(int fd, std::string& contents, size_t limit) {
    contents.clear();
    auto fail = [&](int err) {
        contents.clear();
        contents.shrink_to_fit();
        errno = err;
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(errno);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (!S_ISREG(st.st_mode)) return fail(EINVAL);
    if (st.st_size < 0 || uint64_t(st.st_size) > limit) return fail(EFBIG);
    contents.reserve(size_t(st.st_size));
    char buffer[65536];
    off_t offset = 0;
    while (true) {
        // At most one byte past the limit, to tell a file that grew past it.
        size_t room = std::min(sizeof buffer, limit - contents.size() + 1);
        ssize_t n = ::pread(fd, buffer, room, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) break;
        if (contents.size() + size_t(n) > limit) return fail(EFBIG);
        contents.append(buffer, size_t(n));
        offset += n;
    }
    return true;
}

bool readFile(const std::string& path, std::string& contents, size_t limit) {
    contents.clear();
    int fd = ::open(resolve(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    bool ok = readDescriptor(fd, contents, limit);
    int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

bool writeFileAtomically(const std::string& path, const std::string& contents, unsigned mode) {
    const std::string host = resolve(path);
    if (host.empty() || host.back() == '/') {
        errno = EISDIR;
        return false;
    }
    std::string temp = host + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    auto fail = [&]() {
        int saved = errno;
        ::close(fd);
        ::unlink(name.data());
        errno = saved;
        return false;
    };
    const char* p = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        p += n;
        left -= size_t(n);
    }
    if (::fchmod(fd, mode_t(mode)) != 0) return fail();
    if (::fsync(fd) != 0) return fail();
    if (::close(fd) != 0) {
        int saved = errno;
        ::unlink(name.data());
        errno = saved;
        return false;
    }
    if (::rename(name.data(), host.c_str()) != 0) {
        int saved = errno;
        ::unlink(name.data());
        errno = saved;
        return false;
    }
    return true;
}

}  // namespace telvo::fs
