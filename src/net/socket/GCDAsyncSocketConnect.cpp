// Connecting: the checks before a connect, the host lookup, one non-blocking connect per
// usable address family (the preferred one first, the other after a delay), the first success
// winning, the connect time limit, and Unix-domain connects.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/socket/GCDAsyncSocket.h"

namespace telvo {

using dispatch::Queue;
using dispatch::Source;
using dispatch::SourcePtr;

namespace {

int familyOfAddress(const Bytes& address) {
    if (GCDAsyncSocket::isIPv4Address(address)) return AF_INET;
    if (GCDAsyncSocket::isIPv6Address(address) && address.size() >= sizeof(sockaddr_in6)) return AF_INET6;
    return AF_UNSPEC;
}

// A Unix-domain listener whose accept queue is full refuses a non-blocking connect with
// EAGAIN instead of letting it wait; the connect is tried again after this many seconds
// (until it gets through, fails otherwise, or the time limit closes the socket).
constexpr double kUnixConnectRetryDelay = 0.05;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public entry points (synchronous on the socket queue)

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port, ErrorPtr* error) {
    return connectToHost(host, port, std::string(), -1, error);
}

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port, double timeout, ErrorPtr* error) {
    return connectToHost(host, port, std::string(), timeout, error);
}

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port, const std::string& interface,
                                   double timeout, ErrorPtr* error) {
    bool result = false;
    ErrorPtr err;
    runSync([&] { result = connectToHostImpl(host, port, interface, timeout, &err); });
    if (!result && error) *error = err;
    return result;
}

bool GCDAsyncSocket::connectToAddress(const Bytes& address, ErrorPtr* error) {
    return connectToAddress(address, std::string(), -1, error);
}

bool GCDAsyncSocket::connectToAddress(const Bytes& address, double timeout, ErrorPtr* error) {
    return connectToAddress(address, std::string(), timeout, error);
}

bool GCDAsyncSocket::connectToAddress(const Bytes& address, const std::string& interface, double timeout,
                                      ErrorPtr* error) {
    bool result = false;
    ErrorPtr err;
    runSync([&] { result = connectToAddressImpl(address, interface, timeout, &err); });
    if (!result && error) *error = err;
    return result;
}

bool GCDAsyncSocket::connectToUrl(const std::string& url, double timeout, ErrorPtr* error) {
    bool result = false;
    ErrorPtr err;
    runSync([&] { result = connectToUrlImpl(url, timeout, &err); });
    if (!result && error) *error = err;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Checks

bool GCDAsyncSocket::preConnect(const std::string& interface, ErrorPtr* error) {
    if (!hasDelegateFor("connect", error)) return false;
    if (!isIdleFor("connect", error)) return false;
    const bool v4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool v6Disabled = (config_ & kIPv6Disabled) != 0;
    if (v4Disabled && v6Disabled) {
        *error = socket_errors::badConfigError(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
        return false;
    }
    Bytes interface4, interface6;
    if (!interface.empty()) {
        getInterfaceAddress(&interface4, &interface6, interface, 0);
        if (interface4.empty() && interface6.empty()) {
            *error = socket_errors::badParamError(
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
            return false;
        }
        if (v4Disabled && interface6.empty()) {
            *error = socket_errors::badParamError(
                "IPv4 has been disabled and specified interface doesn't support IPv6.");
            return false;
        }
        if (v6Disabled && interface4.empty()) {
            *error = socket_errors::badParamError(
                "IPv6 has been disabled and specified interface doesn't support IPv4.");
            return false;
        }
    }
    connectInterface4_ = std::move(interface4);
    connectInterface6_ = std::move(interface6);
    // Requests made while the socket was closed were refused; nothing stale is left.
    dropQueuedReadsAndWrites();
    return true;
}

bool GCDAsyncSocket::preConnectWithUrl(ErrorPtr* error) {
    if (!hasDelegateFor("connect", error)) return false;
    if (!isIdleFor("connect", error)) return false;
    dropQueuedReadsAndWrites();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Starting

bool GCDAsyncSocket::connectToHostImpl(const std::string& host, uint16_t port, const std::string& interface,
                                       double timeout, ErrorPtr* error) {
    if (host.empty()) {
        *error = socket_errors::badParamError(
            "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
        return false;
    }
    if (!preConnect(interface, error)) return false;
    flags_ |= kSocketStarted;

    // The lookup may block for a long time: it runs on a global queue and its answer counts
    // only while no close or other attempt came in between.
    const int index = stateIndex_;
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    Queue::global()->async([weakSelf, host, port, index] {
        ErrorPtr lookupError;
        std::vector<Bytes> addresses = lookupHost(host, port, &lookupError);
        auto self = weakSelf.lock();
        if (!self) return;
        self->socketQueue_->async([weakSelf, addresses = std::move(addresses), lookupError, index] {
            auto socket = weakSelf.lock();
            if (!socket || index != socket->stateIndex_) return;
            if (lookupError) socket->closeWithError(lookupError);
            else socket->lookupDidSucceed(addresses);
        });
    });
    startConnectTimeout(timeout);
    return true;
}

bool GCDAsyncSocket::connectToAddressImpl(const Bytes& address, const std::string& interface, double timeout,
                                          ErrorPtr* error) {
    if (!preConnect(interface, error)) return false;
    Bytes address4, address6;
    const int family = familyOfAddress(address);
    if (family == AF_INET) {
        if (config_ & kIPv4Disabled) {
            *error = socket_errors::badParamError("IPv4 has been disabled and an IPv4 address was passed.");
            return false;
        }
        address4.assign(address.begin(), address.begin() + sizeof(sockaddr_in));
    } else if (family == AF_INET6) {
        if (config_ & kIPv6Disabled) {
            *error = socket_errors::badParamError("IPv6 has been disabled and an IPv6 address was passed.");
            return false;
        }
        address6.assign(address.begin(), address.begin() + sizeof(sockaddr_in6));
    } else {
        *error = socket_errors::badParamError("A valid IPv4 or IPv6 address was not given");
        return false;
    }
    if (!connectWithAddress4(address4, address6, error)) return false;
    flags_ |= kSocketStarted;
    startConnectTimeout(timeout);
    return true;
}

bool GCDAsyncSocket::connectToUrlImpl(const std::string& url, double timeout, ErrorPtr* error) {
    if (!preConnectWithUrl(error)) return false;
    Bytes address = getInterfaceAddressFromUrl(url);
    if (address.empty()) {
        *error = socket_errors::badParamError("Invalid unix domain socket url.");
        return false;
    }
    socketUN_ = createConnectSocket(AF_UNIX, connectInterfaceUN_, error);
    if (socketUN_ == -1) return false;
    flags_ |= kSocketStarted;
    connectSocket(socketUN_, address, stateIndex_);
    startConnectTimeout(timeout);
    return true;
}

void GCDAsyncSocket::lookupDidSucceed(const std::vector<Bytes>& addresses) {
    Bytes address4, address6;
    for (const Bytes& a : addresses) {
        const int family = familyOfAddress(a);
        if (family == AF_INET && address4.empty()) address4 = a;
        else if (family == AF_INET6 && address6.empty()) address6 = a;
    }
    const bool v4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool v6Disabled = (config_ & kIPv6Disabled) != 0;
    if (v4Disabled && address6.empty()) {
        closeWithError(socket_errors::otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
        return;
    }
    if (v6Disabled && address4.empty()) {
        closeWithError(socket_errors::otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return;
    }
    if (v4Disabled) address4.clear();
    if (v6Disabled) address6.clear();
    ErrorPtr error;
    if (!connectWithAddress4(address4, address6, &error)) closeWithError(error);
}

int GCDAsyncSocket::createConnectSocket(int family, const Bytes& interface, ErrorPtr* error) {
    // Non-blocking from the start: the connect completes when the descriptor turns writable.
    // SIGPIPE: every write of the socket passes MSG_NOSIGNAL (Linux has no socket option).
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        *error = socket_errors::errnoErrorWithReason("Error in socket() function");
        return -1;
    }
    if (!interface.empty()) {
        uint16_t port = 0;
        getHost(nullptr, &port, interface);
        int on = 1;
        if (port != 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1) {
            *error = socket_errors::errnoErrorWithReason("Error enabling address reuse (setsockopt)");
            ::close(fd);
            return -1;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(interface.data()), socklen_t(interface.size())) == -1) {
            *error = socket_errors::errnoErrorWithReason("Error in bind() function");
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

bool GCDAsyncSocket::connectWithAddress4(const Bytes& address4, const Bytes& address6, ErrorPtr* error) {
    if (!address4.empty()) socket4FD_ = createConnectSocket(AF_INET, connectInterface4_, error);
    if (!address6.empty()) socket6FD_ = createConnectSocket(AF_INET6, connectInterface6_, error);
    if (socket4FD_ == -1 && socket6FD_ == -1) return false;

    const bool preferIPv6 = (config_ & kPreferIPv6) != 0;
    const bool v6First = socket4FD_ == -1 || (preferIPv6 && socket6FD_ != -1);
    const int firstFD = v6First ? socket6FD_ : socket4FD_;
    const Bytes& firstAddress = v6First ? address6 : address4;
    const int secondFD = v6First ? socket4FD_ : socket6FD_;
    const Bytes secondAddress = v6First ? address4 : address6;
    const int index = stateIndex_;

    connectSocket(firstFD, firstAddress, index);
    if (secondFD != -1) {
        std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
        socketQueue_->after(alternateAddressDelay_, [weakSelf, secondFD, secondAddress, index] {
            auto self = weakSelf.lock();
            if (!self || index != self->stateIndex_) return;  // connected or closed meanwhile
            if (secondFD != self->socket4FD_ && secondFD != self->socket6FD_) return;
            self->connectSocket(secondFD, secondAddress, index);
        });
    }
    return true;
}

void GCDAsyncSocket::connectSocket(int fd, const Bytes& address, int index) {
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    const int r = ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size()));
    const int err = r == 0 ? 0 : errno;
    // TCP answers EAGAIN when no local port is left: that attempt has failed.
    const bool unixQueueFull = err == EAGAIN && fd == socketUN_;
    if (r == 0 || (err != EINPROGRESS && !unixQueueFull)) {
        // Settled at once; reported from a later block, as a connect that had to wait would be.
        socketQueue_->async([weakSelf, fd, err, index] {
            if (auto self = weakSelf.lock()) self->connectAttemptFinished(fd, err, index);
        });
        return;
    }
    if (unixQueueFull) {
        socketQueue_->after(kUnixConnectRetryDelay, [weakSelf, fd, address, index] {
            auto self = weakSelf.lock();
            if (self && index == self->stateIndex_ && fd == self->socketUN_) self->connectSocket(fd, address, index);
        });
        return;
    }
    SourcePtr* slot = connectSourceFor(fd);
    if (!slot) return;
    *slot = Source::createWrite(fd, socketQueue_);
    std::weak_ptr<Source> weakSource = *slot;
    (*slot)->setEventHandler([weakSelf, weakSource, fd, index] {
        auto self = weakSelf.lock();
        auto source = weakSource.lock();
        if (!self || !source || source->isCancelled()) return;
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == -1) soError = errno;
        self->connectAttemptFinished(fd, soError, index);
    });
    (*slot)->resume();
}

SourcePtr* GCDAsyncSocket::connectSourceFor(int fd) {
    if (fd == -1) return nullptr;
    if (fd == socket4FD_) return &connect4Source_;
    if (fd == socket6FD_) return &connect6Source_;
    if (fd == socketUN_) return &connectUNSource_;
    return nullptr;
}

void GCDAsyncSocket::cancelConnectSources() {
    // The descriptors stay open: whoever cancels decides about them.
    for (SourcePtr* source : {&connect4Source_, &connect6Source_, &connectUNSource_}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
}

void GCDAsyncSocket::connectAttemptFinished(int fd, int error, int index) {
    if (index != stateIndex_ || (flags_ & kConnected)) return;
    SourcePtr* slot = connectSourceFor(fd);
    if (!slot) return;  // this descriptor was given up already
    if (*slot) {
        (*slot)->cancel();
        slot->reset();
    }
    if (error == 0) {
        didConnect(fd);
        return;
    }
    ::close(fd);
    if (fd == socket4FD_) socket4FD_ = -1;
    else if (fd == socket6FD_) socket6FD_ = -1;
    else socketUN_ = -1;
    // The other family may still be trying (or waiting for its turn).
    if (socket4FD_ != -1 || socket6FD_ != -1 || socketUN_ != -1) return;
    closeWithError(socket_errors::errnoErrorWithCode(error, "Error in connect() function"));
}

void GCDAsyncSocket::didConnect(int fd) {
    // The first success wins: the other family's descriptor is given up.
    cancelConnectSources();
    for (int* other : {&socket4FD_, &socket6FD_}) {
        if (*other != -1 && *other != fd) {
            ::close(*other);
            *other = -1;
        }
    }
    flags_ |= kConnected;
    endConnectTimeout();

    GCDAsyncSocketPtr self = shared_from_this();
    if (fd == socketUN_) {
        const std::string url = connectedUrl();
        notifyDelegate([self, url](GCDAsyncSocketDelegate& d) { d.socketDidConnectToUrl(self, url); });
    } else {
        const std::string host = connectedHost();
        const uint16_t port = connectedPort();
        notifyDelegate([self, host, port](GCDAsyncSocketDelegate& d) { d.socketDidConnectToHost(self, host, port); });
    }
    setupReadAndWriteSourcesForNewlyConnectedSocket(fd);
    maybeDequeueRead();
    maybeDequeueWrite();
}

// ---------------------------------------------------------------------------------------------
// Time limit

void GCDAsyncSocket::startConnectTimeout(double timeout) {
    if (timeout >= 0) connectTimer_ = makeTimer(timeout, &GCDAsyncSocket::doConnectTimeout);
}

void GCDAsyncSocket::doConnectTimeout() {
    if (!connectTimer_) return;
    endConnectTimeout();
    closeWithError(socket_errors::connectTimeoutError());
}

void GCDAsyncSocket::endConnectTimeout() {
    if (connectTimer_) {
        connectTimer_->cancel();
        connectTimer_.reset();
    }
    // Results of the attempts still under way no longer count.
    ++stateIndex_;
    connectInterface4_.clear();
    connectInterface6_.clear();
    connectInterfaceUN_.clear();
}

}  // namespace telvo
