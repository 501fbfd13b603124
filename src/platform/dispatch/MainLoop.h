#pragma once
// Drives the main queue on the calling thread: forever in a program, until idle in tests.
//
// In tests (the gtest thread is the main thread):
//   MainLoop::resetForTesting();            // SetUp and TearDown
//   Clock::useVirtual(start);               // ticks, time-outs, delayed blocks
//   MainLoop::runFor(86400);                // a simulated day, every deadline in order
//   MainLoop::runUntil(pred, 10);           // real I/O: serve the main queue until pred()
// runUntilIdle() waits for blocks on every other queue too, so a block that waits for an
// outside event (a blocking read loop on the global queue) keeps it from returning: use
// runUntil() there. Blocks of suspended queues do not count.
#include <cstdint>
#include <functional>

namespace telvo::dispatch {

class MainLoop {
public:
    // Runs main-queue blocks on this thread forever (the program's main()). Never returns.
    [[noreturn]] static void runForever();
    // Runs main-queue blocks until the main queue is empty and no other queue has a block
    // queued or running; returns the number of main-queue blocks run. Real time does not pass
    // by itself; in virtual mode no timer fires unless it was already due.
    static int runUntilIdle();
    // Virtual mode only: repeatedly runs until idle, then advances the virtual clock to the
    // next timer or delayed block due within `seconds`, until `seconds` have passed in all.
    static void runFor(double seconds);
    // Real mode: runs main-queue blocks until `predicate()` is true or `timeoutSeconds` of real
    // time have passed; answers the predicate's last value. For tests that wait on I/O.
    static bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
    // For a program whose main thread runs another event loop (a GUI): `handler` is called,
    // on whatever thread queued it, after each block is queued on the main queue; the event
    // loop then calls runPending() on the main thread. Null removes the handler.
    static void setWakeHandler(std::function<void()> handler);
    // Runs the main-queue blocks queued so far (not those they queue) and returns how many.
    static int runPending();
    // Makes runForever() return from the program with this status (exit()). For signal handlers.
    [[noreturn]] static void exitProcess(int status);

    // The number of the main-queue block running on the calling thread, or 0 outside any.
    // Blocks are numbered from 1 in the order they start, so two calls answer the same number
    // only inside one block, and the difference of two numbers counts the blocks started
    // between them.
    static uint64_t currentBlockNumber();
    // The number of main-queue blocks started so far, from any thread: the number of the
    // block running on the main queue, or of the last one to run when it is idle. A block's
    // number is counted before it starts, so a thread that reads the same number before and
    // after a look at main-queue state saw no block start in between.
    static uint64_t blocksStarted();

    // Tests: waits (a few real seconds at most) for other queues to finish their blocks while
    // dropping queued main-queue blocks, drops every delayed block and timer deadline, and
    // puts the clock back to real time.
    static void resetForTesting();
};

}  // namespace telvo::dispatch
