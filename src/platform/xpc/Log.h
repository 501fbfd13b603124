#pragma once
// Where the XPC stand-in reports refused calls and broken connections: standard error unless
// the program or a test sets a handler.
#include <functional>
#include <string>

namespace telvo::xpc {

void setLogHandler(std::function<void(const std::string& line)> handler);
void log(const std::string& line);

}  // namespace telvo::xpc
