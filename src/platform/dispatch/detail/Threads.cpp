#include "platform/dispatch/detail/Threads.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace telvo::dispatch::detail {

namespace {
thread_local std::string currentName;

sigset_t asynchronousSignals() {
    sigset_t set;
    sigfillset(&set);
    // Faults must still reach the faulting thread.
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) sigdelset(&set, s);
    return set;
}
}  // namespace

void startThread(const std::string& name, std::function<void()> body) {
    sigset_t block = asynchronousSignals();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &block, &old);
    std::thread([name, body = std::move(body)] {
        nameThisThread(name);
        body();
    }).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void nameThisThread(const std::string& name) {
    std::string cut = name.substr(0, 15);
    if (cut == currentName) return;
    currentName = cut;
    pthread_setname_np(pthread_self(), cut.c_str());
}

long threadId() {
    // gettid() is a system call each time; a thread's id never changes.
    thread_local long id = static_cast<long>(gettid());
    return id;
}

}  // namespace telvo::dispatch::detail
