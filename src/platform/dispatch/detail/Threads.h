#pragma once
// Helpers for the dispatch layer's own threads: they block every asynchronous signal (so
// that signal sources see them) and carry short names.
#include <functional>
#include <string>
#include <thread>

namespace telvo::dispatch::detail {

// Starts a detached thread with every asynchronous signal blocked.
void startThread(const std::string& name, std::function<void()> body);
// Names the calling thread (cut to the 15 bytes the kernel keeps); skips the call when the
// name is the one set last.
void nameThisThread(const std::string& name);
// The kernel thread id of the calling thread.
long threadId();

}  // namespace telvo::dispatch::detail
