#pragma once
// Diagnostics of the SQLite layer and the history files. `historyLog` hands a message to the
// logging core as an asynchronous informational record carrying the caller's source file,
// function and line; `consoleLog` writes it to the system console (standard error), where
// the result sets and the integrity check report. Tests may watch both through one hook.
#include <functional>
#include <string>

namespace telvo::history {

// The caller's position comes from the default arguments, filled in at the call site. (The
// compiler built-ins serve GCC and clang alike; clang 14 has no std::source_location with
// libstdc++ 12.)
void historyLog(const std::string& message, const char* file = __builtin_FILE(),
                const char* function = __builtin_FUNCTION(), int line = __builtin_LINE());
void consoleLog(const std::string& message);

// Every message of either kind also reaches the hook while one is set (null removes it).
void setLogHookForTesting(std::function<void(const std::string&)> hook);

}  // namespace telvo::history
