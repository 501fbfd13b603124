#pragma once
// The files of code as the checker and the signer read them: opened relative to an opened
// folder one component at a time, never through a symbolic link and never blocking
// (O_NOFOLLOW | O_NONBLOCK), checked as regular files with fstat, read only up to a cap and
// digested by streaming, never read whole.
#include <cstdint>
#include <string>

namespace telvo::codesign {

// An open descriptor, closed when it goes.
class CodeDescriptor {
public:
    CodeDescriptor() = default;
    explicit CodeDescriptor(int fd) : fd_(fd) {}
    ~CodeDescriptor();
    CodeDescriptor(CodeDescriptor&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    CodeDescriptor& operator=(CodeDescriptor&& o) noexcept;
    CodeDescriptor(const CodeDescriptor&) = delete;
    CodeDescriptor& operator=(const CodeDescriptor&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The largest executable checked or signed, and the most the sealed files of one bundle may
// hold together.
constexpr uint64_t kLargestExecutable = uint64_t(1) << 30;
constexpr uint64_t kLargestBundle = uint64_t(4) << 30;
// The most files, folders and links one bundle may hold, whatever their size (empty files
// cost an inode and a record each).
constexpr size_t kMostBundleEntries = 100000;
// The largest signature file of a bundle.
constexpr uint64_t kLargestSignature = uint64_t(16) << 20;

// Opens `relative` ("Contents/MacOS/x") below the opened folder `folder`: every folder on
// the way and the file itself without following a link, the file without blocking; it must
// be a regular file of at most `largest` bytes. The descriptor (empty on failure, with *why).
CodeDescriptor openCodeFile(int folder, const std::string& relative, uint64_t largest, uint64_t& size, std::string& why);
// Opens a regular file by its host path (the last component never a link), as openCodeFile.
CodeDescriptor openCodeFile(const std::string& hostPath, uint64_t largest, uint64_t& size, std::string& why);

// Reads an opened regular file whole, failing past `largest` bytes.
bool readCodeFile(int fd, uint64_t largest, std::string& out, std::string& why);
// The SHA-256 of the file's bytes, streamed, with `zeroSize` bytes from `zeroOffset` read as
// zeros (none when zeroSize is 0). False when the file cannot be read.
bool digestCodeFile(int fd, uint64_t zeroOffset, uint64_t zeroSize, std::string& digest);
// The digest an executable is sealed by: its signature section read as zeros when it has
// one, the plain SHA-256 otherwise.
bool executableFileDigest(int fd, uint64_t size, std::string& digest);

}  // namespace telvo::codesign
