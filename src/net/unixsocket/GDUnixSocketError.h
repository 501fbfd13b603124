#pragma once
// Errors of the Unix-domain dictionary sockets: domain "com.marrowind.GDUnixSocket", negative
// codes, the code's message followed by ". " and details when there are any.
#include <string>
#include "platform/Error.h"

namespace telvo {

enum GDUnixSocketErrorCode : long {
    kGDUnixSocketErrorBadSocket = -3024,
    kGDUnixSocketErrorBind = -3023,
    kGDUnixSocketErrorListen = -3022,
    kGDUnixSocketErrorAccept = -3021,
    kGDUnixSocketErrorUnlink = -3020,
    kGDUnixSocketErrorConnect = -3019,
    kGDUnixSocketErrorWrite = -3018,
    kGDUnixSocketErrorRead = -3017,
    kGDUnixSocketErrorClose = -3016,
    kGDUnixSocketErrorUnknownClient = -3015,
};

constexpr const char* kGDUnixSocketErrorDomain = "com.marrowind.GDUnixSocket";

// The message of a code ("Unknown Error" for codes not in the table).
std::string GDUnixSocketErrorMessage(long code);
ErrorPtr GDUnixSocketError(long code, const std::string& details = std::string());
// Details of a failed system call: "fd: %d. errno: %d. %s".
ErrorPtr GDUnixSocketErrnoError(long code, int fd, int err);

}  // namespace telvo
