#pragma once
// Holds a history file's queue, as a slow disk does, until released (or a generous deadline):
// tests check that a tick went on without waiting for the file.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "history/HistoryDatabaseController.h"

namespace telvo::systest {

struct QueueGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool timedOut = false;

    static std::shared_ptr<QueueGate> hold(const std::string& path) {
        auto gate = std::make_shared<QueueGate>();
        databaseItemWithPath(path)->queue()->async([gate] {
            std::unique_lock<std::mutex> lock(gate->mutex);
            if (!gate->changed.wait_for(lock, std::chrono::seconds(60), [&] { return gate->open; }))
                gate->timedOut = true;
        });
        return gate;
    }
    // Whether the queue is still held: nothing on the main queue waited for it.
    bool stillHeld() {
        std::lock_guard<std::mutex> lock(mutex);
        return !timedOut;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
};

}  // namespace telvo::systest
