#pragma once
// The daemon's log file behind a stream (standard output in the daemon): opened for appending
// and, once it has grown past a limit, renamed to "<name>.1" (replacing an older one) and
// opened anew under its own name, so the log never fills the disk while readers keep finding
// it where they look.
#include <cstdint>
#include <cstdio>
#include <string>

namespace telvo {

class DaemonLogFile {
public:
    static constexpr uint64_t kMaximumSize = 10 * 1024 * 1024;

    // Reopens `stream` on `hostPath` in append mode and makes it the file that rolls past
    // `maximumSize` bytes. False (the stream unchanged) when the file cannot be opened.
    static bool open(const std::string& hostPath, FILE* stream, uint64_t maximumSize = kMaximumSize);
    // Called with the writers' lock held after `bytes` were written to `stream`: rolls the
    // file when it is the log file and has grown past the limit.
    static void didWrite(FILE* stream, size_t bytes);
    // Forgets the file (the stream is left as it is).
    static void resetForTesting();
};

}  // namespace telvo
