#include "foundation/logging/LogFileWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace telvo {

std::unique_ptr<LogFileWatch> LogFileWatch::create(const std::string& hostPath, int fd, dispatch::QueuePtr queue,
                                                   std::function<void()> handler) {
    int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) return nullptr;
    if (inotify_add_watch(inotifyFd, hostPath.c_str(), IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF) < 0) {
        ::close(inotifyFd);
        return nullptr;
    }
    std::unique_ptr<LogFileWatch> watch(new LogFileWatch);
    auto state = std::make_shared<State>();
    state->inotifyFd = inotifyFd;
    state->fileFd = fd;
    watch->state_ = state;
    watch->source_ = dispatch::Source::createRead(inotifyFd, std::move(queue));
    watch->source_->setEventHandler([state, handler = std::move(handler)] {
        if (state->poll()) handler();
    });
    watch->source_->setCancelHandler([inotifyFd] { ::close(inotifyFd); });
    watch->source_->resume();
    return watch;
}

LogFileWatch::~LogFileWatch() {
    cancel();
}

void LogFileWatch::cancel() {
    if (source_) {
        state_->cancelled = true;
        source_->cancel();
        source_.reset();
    }
}

bool LogFileWatch::poll() {
    return state_ && state_->poll();
}

bool LogFileWatch::State::poll() {
    if (cancelled) return false;
    alignas(struct inotify_event) char buffer[4096];
    bool attributeChanged = false;
    for (;;) {
        ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<struct inotify_event*>(p);
            if (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED)) gone = true;
            if (event->mask & IN_ATTRIB) attributeChanged = true;
            p += sizeof(struct inotify_event) + event->len;
        }
    }
    if (attributeChanged && !gone) {
        struct stat st {};
        if (fstat(fileFd, &st) == 0 && st.st_nlink == 0) gone = true;
    }
    return gone;
}

}  // namespace telvo
