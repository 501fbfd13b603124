#include "platform/dispatch/Source.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/signalfd.h>
#include "platform/dispatch/detail/FdSource.h"
#include "platform/dispatch/detail/TimerSource.h"

namespace telvo::dispatch {

using detail::FdSource;

SourcePtr Source::createTimer(QueuePtr queue) { return std::make_shared<detail::TimerSource>(std::move(queue)); }

SourcePtr Source::createSignal(int signo, QueuePtr queue) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    // Threads started from now on inherit the mask; the dispatch layer's own threads block
    // every asynchronous signal from birth.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) std::fprintf(stderr, "dispatch: signalfd for signal %d failed: %s\n", signo, std::strerror(errno));
    return std::make_shared<FdSource>(FdSource::Kind::Signal, fd, signo, std::move(queue));
}

SourcePtr Source::createRead(int fd, QueuePtr queue) {
    return std::make_shared<FdSource>(FdSource::Kind::Read, fd, fd, std::move(queue));
}

SourcePtr Source::createWrite(int fd, QueuePtr queue) {
    return std::make_shared<FdSource>(FdSource::Kind::Write, fd, fd, std::move(queue));
}

void Source::setEventHandler(Block handler) {
    static_cast<detail::SourceBase*>(this)->setEventHandlerImpl(std::move(handler));
}

void Source::setCancelHandler(Block handler) {
    static_cast<detail::SourceBase*>(this)->setCancelHandlerImpl(std::move(handler));
}

}  // namespace telvo::dispatch
