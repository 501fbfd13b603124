#include "platform/notify/DistributedNotificationListener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"

namespace telvo::notify {

namespace {
std::atomic<unsigned> gListenerCounter{0};
}

DistributedNotificationListener::DistributedNotificationListener(Handler handler, History history)
    : handler_(std::move(handler)), keepHistory_(history == History::Kept) {
    const std::string folder = DistributedNotificationCenter::runFolder();
    fs::createDirectories(folder, 0755);
    std::string hostFolder = fs::resolve(folder);
    ::chmod(hostFolder.c_str(), 01777);  // listeners of every user put their sockets here
    socketPath_ = hostFolder + "/" + std::to_string(::getpid()) + "-" + std::to_string(++gListenerCounter) + ".sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof addr.sun_path) {
        error_ = makeError("NSPOSIXErrorDomain", ENAMETOOLONG, "Socket path too long: " + socketPath_);
        return;
    }
    std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::unlink(socketPath_.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        int e = errno;
        error_ = makeError("NSPOSIXErrorDomain", e, std::strerror(e));
        if (fd >= 0) ::close(fd);
        return;
    }
    ::chmod(socketPath_.c_str(), 0666);
    int size = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    fd_ = fd;
    thread_ = std::thread([this] { run(); });
}

DistributedNotificationListener::~DistributedNotificationListener() {
    if (thread_.joinable()) {
        char c = 0;
        [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
        thread_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(socketPath_.c_str());
    }
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void DistributedNotificationListener::run() {
    std::string buffer(1 << 16, '\0');
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) continue;
        DistributedNotification note;
        if (!DistributedNotificationCenter::decode(buffer.substr(0, size_t(n)), note.name, note.userInfo)) continue;
        if (keepHistory_) {
            {
                std::lock_guard lock(mutex_);
                received_.push_back(note);
                handedOut_.push_back(false);
            }
            cv_.notify_all();
        }
        if (handler_) handler_(note);
    }
}

bool DistributedNotificationListener::waitFor(const std::string& name, double timeoutSeconds,
                                              DistributedNotification* out) {
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        for (size_t i = 0; i < received_.size(); ++i) {
            if (!handedOut_[i] && received_[i].name == name) {
                handedOut_[i] = true;
                if (out) *out = received_[i];
                return true;
            }
        }
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            // one last look
            for (size_t i = 0; i < received_.size(); ++i)
                if (!handedOut_[i] && received_[i].name == name) {
                    handedOut_[i] = true;
                    if (out) *out = received_[i];
                    return true;
                }
            return false;
        }
    }
}

std::vector<DistributedNotification> DistributedNotificationListener::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

size_t DistributedNotificationListener::count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& note : received_) n += note.name == name;
    return n;
}

}  // namespace telvo::notify
