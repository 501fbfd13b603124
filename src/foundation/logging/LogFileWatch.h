#pragma once
// Watches one open file for deletion and renaming (inotify) and reports either as one event
// on a queue. An unlink of a file that is still open shows as an attribute change with a link
// count of 0; a rename as a move of the watched file itself.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace telvo {

class LogFileWatch {
public:
    // Watches `hostPath` (already resolved) whose open descriptor is `fd`; `handler` runs on
    // `queue`. Answers null when the watch cannot be made.
    static std::unique_ptr<LogFileWatch> create(const std::string& hostPath, int fd, dispatch::QueuePtr queue,
                                                std::function<void()> handler);
    ~LogFileWatch();

    // Reads the events that have arrived so far without waiting; true when the file was
    // deleted or renamed. Call on the watch's queue.
    bool poll();
    void cancel();

private:
    struct State {
        int inotifyFd = -1;
        int fileFd = -1;
        bool gone = false;
        std::atomic<bool> cancelled{false};
        bool poll();
    };
    LogFileWatch() = default;
    std::shared_ptr<State> state_;
    dispatch::SourcePtr source_;
};

}  // namespace telvo
