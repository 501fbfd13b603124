#pragma once
// Diagnostics of the SQLite layer and the history files. `historyLog` hands a message to the
// logging core as an asynchronous informational record carrying the caller's source file,
// function and line; `consoleLog` writes it to the system console (standard error), where
// the result sets and the integrity check report. Tests may watch both through one hook.
#include <functional>
#include <source_location>
#include <string>

namespace telvo::history {

void historyLog(const std::string& message, std::source_location where = std::source_location::current());
void consoleLog(const std::string& message);

// Every message of either kind also reaches the hook while one is set (null removes it).
void setLogHookForTesting(std::function<void(const std::string&)> hook);

}  // namespace telvo::history
