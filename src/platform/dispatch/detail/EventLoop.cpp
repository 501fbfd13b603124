#include "platform/dispatch/detail/EventLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/epoll.h>
#include "platform/dispatch/detail/MainQueue.h"
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

EventLoop& EventLoop::instance() {
    static EventLoop* loop = new EventLoop();
    return *loop;
}

EventLoop::EventLoop() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) std::fprintf(stderr, "dispatch: epoll_create1 failed: %s\n", std::strerror(errno));
    startThread("telvo-io", [this] { threadMain(); });
}

uint64_t EventLoop::add(int fd, std::weak_ptr<FdWatcher> watcher) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t id = nextId_++;
    watches_.emplace(id, Watch{fd, std::move(watcher), 0});
    auto& descriptor = descriptors_[fd];
    if (descriptor.key == 0) {
        descriptor.key = nextId_++;
        keys_[descriptor.key] = fd;
    }
    descriptor.watches.push_back(id);
    return id;
}

void EventLoop::setInterest(uint64_t id, uint32_t events) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = watches_.find(id);
    if (it == watches_.end() || it->second.interest == events) return;
    it->second.interest = events;
    updateLocked(it->second.fd);
}

void EventLoop::remove(uint64_t id) {
    std::weak_ptr<FdWatcher> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    int fd = it->second.fd;
    dropped = std::move(it->second.watcher);
    watches_.erase(it);
    auto d = descriptors_.find(fd);
    if (d == descriptors_.end()) return;
    auto& list = d->second.watches;
    list.erase(std::remove(list.begin(), list.end(), id), list.end());
    if (list.empty()) {
        if (d->second.inSet) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        keys_.erase(d->second.key);
        descriptors_.erase(d);
    } else {
        updateLocked(fd);
    }
}

size_t EventLoop::watchCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return watches_.size();
}

void EventLoop::updateLocked(int fd) {
    auto d = descriptors_.find(fd);
    if (d == descriptors_.end()) return;
    uint32_t wanted = 0;
    for (uint64_t id : d->second.watches) wanted |= watches_[id].interest;
    auto& descriptor = d->second;
    if (wanted == descriptor.registered) return;
    // One-shot: a report disarms the descriptor in the kernel, so that the watch that took it
    // arms it again with one call once its handler has run. A descriptor nobody waits for
    // stays in the set disarmed (at most one hang-up is reported after that), rather than
    // leaving and joining it again.
    epoll_event event{};
    // The peer's end of its stream concerns readers only: a writer waiting on a half-closed
    // connection would be told of it again and again.
    event.events = wanted | ((wanted & EPOLLIN) ? uint32_t(EPOLLRDHUP) : 0u) | uint32_t(EPOLLONESHOT);
    event.data.u64 = descriptor.key;
    int op = descriptor.inSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(epoll_, op, fd, &event) != 0) {
        if (op == EPOLL_CTL_MOD && errno == ENOENT) {
            epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        } else if (op == EPOLL_CTL_ADD && errno == EEXIST) {
            epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
        } else {
            std::fprintf(stderr, "dispatch: cannot watch descriptor %d: %s\n", fd, std::strerror(errno));
        }
    }
    descriptor.inSet = true;
    descriptor.registered = wanted;
}

void EventLoop::threadMain() {
    constexpr int kBatch = 64;
    epoll_event events[kBatch];
    std::vector<std::pair<std::shared_ptr<FdWatcher>, uint32_t>> ready;
    for (;;) {
        int n = epoll_wait(epoll_, events, kBatch, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "dispatch: epoll_wait failed: %s\n", std::strerror(errno));
            return;
        }
        // Sessions' blocks queued on the main queue while this batch is handled wake the
        // main thread once, when the batch is done.
        MainQueue::WakeBatch batch;
        for (int i = 0; i < n; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto key = keys_.find(events[i].data.u64);
                if (key == keys_.end()) continue;  // removed meanwhile
                int fd = key->second;
                uint32_t got = events[i].events;
                auto d = descriptors_.find(fd);
                if (d == descriptors_.end()) continue;
                // The report disarmed it.
                d->second.registered = 0;
                for (uint64_t id : d->second.watches) {
                    auto& watch = watches_[id];
                    if (!watch.interest) continue;
                    bool hit = (got & watch.interest) || (got & (EPOLLHUP | EPOLLERR)) ||
                               ((watch.interest & EPOLLIN) && (got & EPOLLRDHUP));
                    if (!hit) continue;
                    watch.interest = 0;
                    if (auto watcher = watch.watcher.lock()) ready.emplace_back(std::move(watcher), got);
                }
                updateLocked(fd);
            }
            for (auto& [watcher, got] : ready) watcher->onReady(got);
            // Released here, outside the lock: the last owner of a watcher may be this list.
            ready.clear();
        }
    }
}

}  // namespace telvo::dispatch::detail
