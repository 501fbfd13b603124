#pragma once
// The one thread that waits for descriptor readiness (level-triggered, one-shot epoll) on behalf of
// every read, write and signal source. Each watch names an interest; when its descriptor is
// ready the interest is cleared and the watcher told, and the watcher sets it again once its
// handler has run. Several watches may share a descriptor (a socket's read and write
// sources).
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace telvo::dispatch::detail {

class FdWatcher {
public:
    virtual ~FdWatcher() = default;
    // Runs on the event thread with no lock of the loop held.
    virtual void onReady(uint32_t events) = 0;
};

class EventLoop {
public:
    static EventLoop& instance();

    // A watch on `fd` with no interest yet; answers its id.
    uint64_t add(int fd, std::weak_ptr<FdWatcher> watcher);
    // EPOLLIN, EPOLLOUT, or 0 for none.
    void setInterest(uint64_t id, uint32_t events);
    void remove(uint64_t id);
    size_t watchCount();

private:
    EventLoop();
    struct Watch {
        int fd;
        std::weak_ptr<FdWatcher> watcher;
        uint32_t interest = 0;
    };
    struct Descriptor {
        uint64_t key = 0;  // epoll's tag for this registration
        std::vector<uint64_t> watches;
        uint32_t registered = 0;  // the events it is armed for in the kernel; 0: disarmed
        bool inSet = false;       // added to the epoll set
    };
    void updateLocked(int fd);
    void threadMain();

    std::mutex mutex_;
    int epoll_ = -1;
    uint64_t nextId_ = 1;
    std::unordered_map<uint64_t, Watch> watches_;
    std::unordered_map<int, Descriptor> descriptors_;
    std::unordered_map<uint64_t, int> keys_;
};

}  // namespace telvo::dispatch::detail
