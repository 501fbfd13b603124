// Watches SIGTERM as the daemon does (ignored, and delivered through a signal source on the
// main queue), keeps worker threads busy, says "ready" and runs the main loop. On SIGTERM it
// reports where the handler ran and exits 0.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

using namespace telvo::dispatch;

int main() {
    static int mainKey;
    static int mainValue;
    Queue::main()->setSpecific(&mainKey, &mainValue);
    // Before any thread starts.
    auto source = Source::createSignal(SIGTERM, Queue::main());
    std::signal(SIGTERM, SIG_IGN);
    source->setEventHandler([source] {
        bool onMainThread = gettid() == getpid();
        bool onMainQueue = Queue::main()->isCurrent() && Queue::current() == Queue::main() &&
                           Queue::getSpecific(&mainKey) == &mainValue;
        std::printf("SIGTERM handled: main thread %s, main queue %s, count %zu\n", onMainThread ? "yes" : "no",
                    onMainQueue ? "yes" : "no", source->data());
        MainLoop::exitProcess(onMainThread && onMainQueue ? 0 : 3);
    });
    source->resume();

    // Busy workers and a ticking timer: none of their threads may take the signal.
    static std::atomic<bool> spin{true};
    for (int i = 0; i < 4; ++i) {
        Queue::global()->async([] {
            while (spin) usleep(1000);
        });
    }
    auto worker = Queue::createSerial("probe.worker");
    auto timer = Source::createTimer(worker);
    timer->setEventHandler([] {});
    timer->scheduleAfter(0.001, 0.001);
    timer->resume();

    Queue::main()->async([] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    MainLoop::runForever();
}
