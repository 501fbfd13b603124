#pragma once
// A folder made read-only in place (a read-only bind mount over itself), for tests of what a
// program does when a file it keeps cannot be written; undone when the scope ends or on now().
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace telvo::testing {

class ReadOnlyBindMount {
public:
    explicit ReadOnlyBindMount(std::string folder) : folder_(std::move(folder)) {
        if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            why_ = std::string("a read-only bind mount is needed (mount as root): ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            why_ = std::string("the bind mount cannot be made read-only: ") + std::strerror(errno);
            undo();
        }
    }
    ~ReadOnlyBindMount() { undo(); }
    ReadOnlyBindMount(const ReadOnlyBindMount&) = delete;
    ReadOnlyBindMount& operator=(const ReadOnlyBindMount&) = delete;

    // Empty once the folder is read-only; otherwise why it could not be made so.
    const std::string& failure() const { return why_; }
    void undo() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
        mounted_ = false;
    }

private:
    std::string folder_;
    std::string why_;
    bool mounted_ = false;
};

}  // namespace telvo::testing
