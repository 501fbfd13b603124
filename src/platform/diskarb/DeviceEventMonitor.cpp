#include "platform/diskarb/DeviceEventMonitor.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/host/ProcRoot.h"
#include "platform/registry/NotificationPort.h"

namespace telvo::diskarb {
namespace {

std::atomic<bool> gSourcesEnabled{true};

int openUeventSocket() {
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own broadcasts
    int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct DeviceEventMonitor::Impl {
    int socketFd = -1;
    int mountsFd = -1;
    int wakeFd = -1;
    std::thread thread;

    void run(DeviceEventMonitor* monitor) {
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            pollfd fds[3] = {{wakeFd, POLLIN, 0}, {socketFd, POLLIN, 0}, {mountsFd, POLLPRI, 0}};
            if (poll(fds, 3, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents) return;
            if (fds[1].revents & POLLIN) {
                for (;;) {
                    sockaddr_nl sender{};
                    iovec iov{buffer.data(), buffer.size()};
                    msghdr msg{};
                    msg.msg_name = &sender;
                    msg.msg_namelen = sizeof sender;
                    msg.msg_iov = &iov;
                    msg.msg_iovlen = 1;
                    const ssize_t n = recvmsg(socketFd, &msg, MSG_DONTWAIT);
                    if (n < 0) {
                        // ENOBUFS: events were lost; a full rescan catches up.
                        if (errno == ENOBUFS) monitor->handleMountTableChange();
                        break;
                    }
                    // Only the kernel (port 0) speaks for devices; anyone else is ignored.
                    if (sender.nl_pid != 0 || (msg.msg_flags & MSG_TRUNC)) continue;
                    monitor->handleMessage(buffer.data(), static_cast<size_t>(n));
                }
            }
            if (fds[2].revents & (POLLPRI | POLLERR)) monitor->handleMountTableChange();
        }
    }
};

DeviceEventMonitor& DeviceEventMonitor::shared() {
    static DeviceEventMonitor* monitor = new DeviceEventMonitor();
    return *monitor;
}

void DeviceEventMonitor::setSourcesEnabledForTesting(bool enabled) { gSourcesEnabled = enabled; }

DeviceEventMonitor::Token DeviceEventMonitor::subscribe(Callback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Token token = nextToken_++;
    subscribers_.emplace_back(token, std::make_shared<Callback>(std::move(callback)));
    if (subscribers_.size() == 1) startLocked();
    return token;
}

void DeviceEventMonitor::unsubscribe(Token token) {
    std::shared_ptr<Impl> stopping;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(subscribers_, [token](const auto& s) { return s.first == token; });
        if (!subscribers_.empty() || !impl_) return;
        stopping.swap(impl_);
    }
    // Joined outside the lock: the watcher may be delivering and need it.
    uint64_t one = 1;
    if (write(stopping->wakeFd, &one, sizeof one) < 0) {
    }
    if (stopping->thread.joinable()) {
        if (stopping->thread.get_id() == std::this_thread::get_id())
            stopping->thread.detach();
        else
            stopping->thread.join();
    }
    for (int fd : {stopping->socketFd, stopping->mountsFd, stopping->wakeFd})
        if (fd >= 0) close(fd);
}

void DeviceEventMonitor::startLocked() {
    if (impl_ || !gSourcesEnabled) return;
    auto impl = std::make_shared<Impl>();
    impl->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->wakeFd < 0) return;
    impl->socketFd = openUeventSocket();
    // Only the kernel's mount table raises POLLPRI; a fixture's plain file would wake the
    // watcher all the time.
    if (host::ProcRoot::root() == "/") impl->mountsFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    impl->thread = std::thread([this, raw = impl.get()] { raw->run(this); });
    impl_ = impl;
}

void DeviceEventMonitor::handleMessage(const char* data, size_t length) {
    Uevent event;
    if (!parseUevent(data, length, event) || event.subsystem != "block") return;
    registry::refreshAndNotify();
    deliver(&event);
}

void DeviceEventMonitor::handleMountTableChange() {
    // Mounting changes which media are open; after lost events anything may have changed.
    registry::refreshAndNotify();
    deliver(nullptr);
}

void DeviceEventMonitor::deliver(const Uevent* event) {
    std::vector<std::shared_ptr<Callback>> callbacks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& s : subscribers_) callbacks.push_back(s.second);
    }
    for (const auto& c : callbacks) (*c)(event);
}

}  // namespace telvo::diskarb
