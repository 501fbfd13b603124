// Connecting to a Unix-domain dictionary socket.
#include "net/unixsocket/GDUnixSocketClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>

namespace telvo {

GDUnixSocketClientPtr GDUnixSocketClient::initWithSocketPath(const std::string& path, size_t fragmentSize) {
    if (!isAcceptablePath(path)) return nullptr;
    return GDUnixSocketClientPtr(new GDUnixSocketClient(path, fragmentSize ? fragmentSize : kDefaultFragmentSize));
}

bool GDUnixSocketClient::connectWithAutoRead(bool autoRead, ErrorPtr* error) {
    int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (f < 0) {
        if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorBadSocket, f, errno);
        return false;
    }
    sockaddr_un address;
    socklen_t length = 0;
    if (!fillAddress(address, length)) {
        ::close(f);
        if (error) *error = GDUnixSocketError(kGDUnixSocketErrorListen, "The socket path is inconsistent");
        return false;
    }
    if (::connect(f, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int err = errno;
        ::close(f);
        if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorConnect, f, err);
        return false;
    }
    setFd(f);
    setState(kStateConnected);
    if (autoRead) startReadLoop();
    return true;
}

}  // namespace telvo
