#pragma once
// The file-system root. The components keep their literal absolute paths ("/Library/...",
// "/tmp/..."); at the boundary (open, mkdir, unlink, stat, socket paths) each is resolved under
// the folder named by TELVO_ROOT (default "/"). "~" at the start of a path is $HOME, which is
// not moved under the root.
#include <cstddef>
#include <string>

namespace telvo::fs {

// The host path for a path as the components name it.
std::string resolve(const std::string& path);
// The root folder in use ("/" when none is set).
std::string root();
// Tests point the root somewhere else; an empty string restores TELVO_ROOT (or "/").
void setRootForTesting(const std::string& folder);
// "~/x" -> "$HOME/x" without applying the root.
std::string expandTilde(const std::string& path);
// The reverse of resolve(): the path as the components name it for a host path (absolute,
// normalised). False for a relative path or one outside the root.
bool logicalPath(const std::string& hostPath, std::string& logical);

// Extended attributes: Linux accepts only namespaced names, ours live in the "user." namespace
// ("com.apple.quarantine" -> "user.com.apple.quarantine"); a name already in it is kept.
std::string systemAttributeName(const std::string& name);

// Conveniences over resolve(); all answer false / empty on failure with errno kept.
bool exists(const std::string& path);
bool isDirectory(const std::string& path);
bool createDirectories(const std::string& path, unsigned mode = 0755);
bool removeFile(const std::string& path);
// Reads a regular file whole. It never blocks on a FIFO or a device and never reads more than
// `limit` bytes: errno EISDIR for a folder, EINVAL for any other file that is not regular,
// EFBIG for one larger than the limit. Links are followed.
constexpr size_t kReadFileLimit = size_t(1) << 30;
bool readFile(const std::string& path, std::string& contents, size_t limit = kReadFileLimit);
// The same through an open descriptor, from its start (the descriptor stays open).
bool readDescriptor(int fd, std::string& contents, size_t limit = kReadFileLimit);
// Atomic write: temporary file in the same folder, fsync, rename.
bool writeFileAtomically(const std::string& path, const std::string& contents, unsigned mode = 0644);

}  // namespace telvo::fs
