#pragma once
// Listening sockets handed down by the process that started this one (the launcher), in the
// LISTEN_FDS form: descriptors from 3 on, LISTEN_PID naming this process, LISTEN_FDNAMES the
// service names separated by ":".
#include <string>

namespace telvo::xpc {

constexpr int kFirstInheritedDescriptor = 3;

// The inherited listening descriptor of that service, made close-on-exec and non-blocking;
// -1 when none was handed to this process under that name.
int inheritedListeningDescriptor(const std::string& serviceName);

}  // namespace telvo::xpc
