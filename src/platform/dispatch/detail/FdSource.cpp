#include "platform/dispatch/detail/FdSource.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <utility>

namespace telvo::dispatch::detail {

FdSource::FdSource(Kind kind, int fd, int handle, QueuePtr queue)
    : SourceBase(std::move(queue), handle), kind_(kind), fd_(fd) {}

FdSource::~FdSource() {
    if (watch_) EventLoop::instance().remove(watch_);
    if (kind_ == Kind::Signal && fd_ >= 0) close(fd_);
}

uint32_t FdSource::interest() const { return kind_ == Kind::Write ? EPOLLOUT : EPOLLIN; }

void FdSource::activateLocked() {
    if (fd_ < 0) return;
    std::weak_ptr<FdSource> weak = std::static_pointer_cast<FdSource>(shared_from_this());
    watch_ = EventLoop::instance().add(fd_, weak);
}

void FdSource::stateChangedLocked() {
    if (watch_) EventLoop::instance().setInterest(watch_, watchingLocked() ? interest() : 0);
}

void FdSource::cancelLocked() {
    if (watch_) EventLoop::instance().remove(watch_);
    watch_ = 0;
    if (kind_ == Kind::Signal && fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void FdSource::onReady(uint32_t events) {
    bool runHere = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deferDelivery_ = queue_->servedByEventThread();
        readyLocked(events);
        deferDelivery_ = false;
        runHere = std::exchange(deliveryDeferred_, false);
    }
    if (runHere) deliverHereOrQueue();
}

void FdSource::readyLocked(uint32_t events) {
    if (!watchingLocked()) return;  // whoever changed the state arms the watch again
    size_t data = 1;
    switch (kind_) {
        case Kind::Read: {
            int available = 0;
            if (ioctl(fd_, FIONREAD, &available) == 0) {
                data = available > 0 ? static_cast<size_t>(available) : 0;
            } else {
                // Listening sockets have no byte count: report the pending connection.
                data = (events & (EPOLLERR | EPOLLHUP)) && !(events & EPOLLIN) ? 0 : 1;
            }
            break;
        }
        case Kind::Write:
            data = 1;
            break;
        case Kind::Signal: {
            signalfd_siginfo info[8];
            size_t count = 0;
            for (;;) {
                ssize_t n = read(fd_, info, sizeof info);
                if (n <= 0) break;
                count += static_cast<size_t>(n) / sizeof(signalfd_siginfo);
            }
            if (count == 0) {
                stateChangedLocked();
                return;
            }
            eventLocked(count, true);
            stateChangedLocked();
            return;
        }
    }
    eventLocked(data, false);
    stateChangedLocked();
}

}  // namespace telvo::dispatch::detail
