// Finding a listening socket in the LISTEN_FDS environment.
#include "platform/xpc/InheritedSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>
#include <string_view>

namespace telvo::xpc {

int inheritedListeningDescriptor(const std::string& serviceName) {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    const char* names = std::getenv("LISTEN_FDNAMES");
    if (!pid || !count || !names) return -1;
    char* end = nullptr;
    long owner = std::strtol(pid, &end, 10);
    if (*end || owner != long(getpid())) return -1;
    long n = std::strtol(count, &end, 10);
    if (*end || n <= 0 || n > 1024) return -1;
    std::string_view list(names);
    for (long i = 0; i < n; ++i) {
        size_t colon = list.find(':');
        std::string_view name = list.substr(0, colon);
        if (name == serviceName) {
            int fd = kFirstInheritedDescriptor + int(i);
            int listening = 0;
            socklen_t length = sizeof listening;
            if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) return -1;
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            return fd;
        }
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    return -1;
}

}  // namespace telvo::xpc
