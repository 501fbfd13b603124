#pragma once
// A TCP port that is free on the loopback addresses now and stays this test process's own.
//
// The port is taken below the kernel's ephemeral range (32768 up by default), so no outgoing
// connection or bind to port 0 anywhere on the machine is handed it meanwhile, and it is
// claimed among test processes by an abstract Unix socket named after it, held until the
// process ends: two tests running at the same time never get the same port.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace telvo::testing {

namespace freeport_detail {

// Claims `port` for this process; false when another process holds it.
inline bool claim(uint16_t port) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    // Abstract name: a leading NUL, no file, gone with the process.
    int n = std::snprintf(a.sun_path + 1, sizeof a.sun_path - 1, "telvo-test-port-%u", unsigned(port));
    socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + n);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) {
        ::close(fd);
        return false;
    }
    return true;  // the descriptor stays open for the life of the process
}

// Whether nothing listens on or is bound to `port` on any address, IPv4 and IPv6.
inline bool bindable(uint16_t port) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace freeport_detail

inline uint16_t freePort() {
    static std::mt19937 random(std::random_device{}() ^ unsigned(::getpid()));
    for (int attempt = 0; attempt < 2000; ++attempt) {
        uint16_t port = uint16_t(20000 + random() % 12000);
        if (!freeport_detail::claim(port)) continue;
        if (freeport_detail::bindable(port)) return port;
        // Someone outside the tests uses it: keep the claim (so no other test tries it) and
        // look further.
    }
    return 0;
}

}  // namespace telvo::testing
