#pragma once
// The client end of an instance's control socket: one request, one answer, in the framing of
// the XPC stand-in (a length and an XML property-list dictionary).
//   requests  {"command" "load"|"unload"|"list"|"checkin", "path" p, "write" bool, "session" s}
//             {"command" "authorize", "right" r, "interaction" bool}   any user: the right for the caller
//             {"command" "copyjob"|"bless"|"remove", "label" l}        any user; bless and remove
//                                                                       need the blessing right
//   answers   {"status" 0 or an errno-like code, "message" text, "jobs" [{"Label", "PID", "LastExitStatus"}],
//              "authorization" status, "job" dictionary}
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::launchd {

// Sends the request to the socket (a logical path) and waits up to `timeout` seconds for the
// answer. Answers null with the error when the instance cannot be reached or does not answer.
Value sendControlRequest(const std::string& socketPath, const Value& request, double timeout, ErrorPtr* error);

}  // namespace telvo::launchd
