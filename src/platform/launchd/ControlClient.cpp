// One request over a control socket.
#include "platform/launchd/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/xpc/Message.h"

namespace telvo::launchd {

Value sendControlRequest(const std::string& socketPath, const Value& request, double timeout, ErrorPtr* error) {
    auto fail = [&](int err, const std::string& what) {
        if (error) *error = makeError("NSPOSIXErrorDomain", err, what + ": " + std::strerror(err));
        return Value();
    };
    std::string host = fs::resolve(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) return fail(ENAMETOOLONG, host);
    host.copy(address.sun_path, host.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(errno, "socket");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err, "cannot reach " + socketPath);
    }
    std::string bytes = xpc::encodeMessage(request);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return fail(err, "cannot send to " + socketPath);
        }
        done += size_t(n);
    }
    xpc::MessageDecoder decoder;
    double deadline = platform::Clock::monotonic() + timeout;
    for (;;) {
        double left = deadline - platform::Clock::monotonic();
        if (left <= 0) {
            ::close(fd);
            return fail(ETIMEDOUT, "no answer from " + socketPath);
        }
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, int(left * 1000) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        char buf[65536];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return fail(n == 0 ? ECONNRESET : errno, "no answer from " + socketPath);
        }
        std::vector<Value> messages = decoder.feed(buf, size_t(n));
        if (!messages.empty()) {
            ::close(fd);
            if (error) error->reset();
            return messages.front();
        }
        if (decoder.failed()) {
            ::close(fd);
            return fail(EPROTO, "damaged answer from " + socketPath);
        }
    }
}

}  // namespace telvo::launchd
