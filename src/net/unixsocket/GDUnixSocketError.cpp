// Error objects of the Unix-domain dictionary sockets.
#include "net/unixsocket/GDUnixSocketError.h"

#include <cstring>

namespace telvo {

std::string GDUnixSocketErrorMessage(long code) {
    switch (code) {
    case kGDUnixSocketErrorBadSocket: return "Bad socket";
    case kGDUnixSocketErrorBind: return "Failed to bind socket";
    case kGDUnixSocketErrorListen: return "Failed to listen on socket";
    case kGDUnixSocketErrorAccept: return "Failed to accept connection, closing socket";
    case kGDUnixSocketErrorUnlink: return "Failed to unlink socket";
    case kGDUnixSocketErrorConnect: return "Failed to connect to socket";
    case kGDUnixSocketErrorWrite: return "Failed to write to socket";
    case kGDUnixSocketErrorRead: return "Failed to read from socket";
    case kGDUnixSocketErrorClose: return "Failed to close socket";
    case kGDUnixSocketErrorUnknownClient: return "Unknown client. It is either disconnected or never existed";
    default: return "Unknown Error";
    }
}

ErrorPtr GDUnixSocketError(long code, const std::string& details) {
    std::string message = GDUnixSocketErrorMessage(code);
    if (!details.empty()) message += ". " + details;
    return makeError(kGDUnixSocketErrorDomain, code, message);
}

ErrorPtr GDUnixSocketErrnoError(long code, int fd, int err) {
    return GDUnixSocketError(code, "fd: " + std::to_string(fd) + ". errno: " + std::to_string(err) + ". " +
                                       std::strerror(err));
}

}  // namespace telvo
