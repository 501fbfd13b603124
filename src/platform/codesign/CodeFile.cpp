// Safe opening, capped reading and streamed digests of the files of code.
#include "platform/codesign/CodeFile.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/codesign/ElfSection.h"

namespace telvo::codesign {

CodeDescriptor::~CodeDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

CodeDescriptor& CodeDescriptor::operator=(CodeDescriptor&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

namespace {

std::string sizeText(uint64_t bytes) {
    if (bytes >= (uint64_t(1) << 30) && bytes % (uint64_t(1) << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    return std::to_string(bytes >> 20) + " MiB";
}

std::string openFailure(const std::string& shown, int error) {
    if (error == ELOOP) return shown + " is a symbolic link";
    if (error == ENOTDIR) return "a folder on the way to " + shown + " is not a folder";
    return shown + ": " + std::strerror(error);
}

CodeDescriptor checkedFile(int fd, const std::string& shown, uint64_t largest, uint64_t& size, std::string& why) {
    CodeDescriptor file(fd);
    struct stat st {};
    if (!file) {
        why = openFailure(shown, errno);
        return {};
    }
    if (::fstat(file.get(), &st) != 0) {
        why = shown + ": " + std::strerror(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        why = shown + " is not a regular file";
        return {};
    }
    if (uint64_t(st.st_size) > largest) {
        why = shown + " is larger than " + sizeText(largest);
        return {};
    }
    size = uint64_t(st.st_size);
    return file;
}

constexpr int kFileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

}  // namespace

CodeDescriptor openCodeFile(int folder, const std::string& relative, uint64_t largest, uint64_t& size, std::string& why) {
    std::vector<std::string> parts;
    for (size_t i = 0; i < relative.size();) {
        size_t end = relative.find('/', i);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            why = relative + " climbs out of its folder";
            return {};
        }
        parts.push_back(std::move(part));
    }
    if (parts.empty()) {
        why = "no file named";
        return {};
    }
    CodeDescriptor at;
    int current = folder;
    std::string shown;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        shown += (shown.empty() ? "" : "/") + parts[i];
        CodeDescriptor next(::openat(current, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!next) {
            int error = errno;
            struct stat st {};
            // O_DIRECTORY with O_NOFOLLOW answers ENOTDIR for a link.
            if (error == ENOTDIR && ::fstatat(current, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                error = ELOOP;
            why = openFailure(shown, error);
            return {};
        }
        at = std::move(next);
        current = at.get();
    }
    return checkedFile(::openat(current, parts.back().c_str(), kFileFlags), relative, largest, size, why);
}

CodeDescriptor openCodeFile(const std::string& hostPath, uint64_t largest, uint64_t& size, std::string& why) {
    return checkedFile(::open(hostPath.c_str(), kFileFlags), hostPath, largest, size, why);
}

bool readCodeFile(int fd, uint64_t largest, std::string& out, std::string& why) {
    out.clear();
    char buf[65536];
    for (off_t at = 0;;) {
        ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        if (out.size() + size_t(n) > largest) {
            why = "larger than " + sizeText(largest);
            return false;
        }
        out.append(buf, size_t(n));
        at += n;
    }
}

bool digestCodeFile(int fd, uint64_t zeroOffset, uint64_t zeroSize, std::string& digest) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) return false;
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<char> buf(1 << 16);
    bool ok = true;
    for (uint64_t at = 0;;) {
        ssize_t n = ::pread(fd, buf.data(), buf.size(), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        // The part of this chunk inside the zeroed range reads as zeros.
        uint64_t end = at + uint64_t(n);
        if (zeroSize > 0 && at < zeroOffset + zeroSize && end > zeroOffset) {
            uint64_t from = std::max(at, zeroOffset), to = std::min(end, zeroOffset + zeroSize);
            std::memset(buf.data() + (from - at), 0, size_t(to - from));
        }
        EVP_DigestUpdate(ctx, buf.data(), size_t(n));
        at = end;
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_DigestFinal_ex(ctx, out, &size);
    EVP_MD_CTX_free(ctx);
    if (ok) digest.assign(reinterpret_cast<char*>(out), size);
    return ok;
}

bool executableFileDigest(int fd, uint64_t size, std::string& digest) {
    SectionRange range;
    if (findSignatureSection(fd, size, range)) return digestCodeFile(fd, range.offset, range.size, digest);
    return digestCodeFile(fd, 0, 0, digest);
}

}  // namespace telvo::codesign
