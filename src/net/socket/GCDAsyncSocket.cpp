// Creation, queue rules, configuration, listening and accepting, closing and the state and
// address queries of the socket.
#include "net/socket/GCDAsyncSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "foundation/ServerLog.h"
#include "net/socket/TlsEngine.h"

namespace telvo {

using dispatch::Block;
using dispatch::Queue;
using dispatch::QueuePtr;
using dispatch::Source;

// ---------------------------------------------------------------------------------------------
// Creation and destruction

GCDAsyncSocket::GCDAsyncSocket(DelegatePtr delegate, QueuePtr delegateQueue, QueuePtr socketQueue)
    : delegate_(std::move(delegate)), delegateQueue_(std::move(delegateQueue)) {
    if (socketQueue) {
        if (!socketQueue->isSerial())
            socketProgrammingError("The given socketQueue parameter must not be a concurrent queue.");
        socketQueue_ = std::move(socketQueue);
    } else {
        socketQueue_ = Queue::createSerial(GCDAsyncSocketQueueName);
        // Its blocks never wait: the event thread runs them itself while the queue is idle.
        socketQueue_->setServedByEventThread(true);
    }
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, this);
}

GCDAsyncSocketPtr GCDAsyncSocket::initWithDelegate(DelegatePtr delegate, QueuePtr delegateQueue, QueuePtr socketQueue) {
    return GCDAsyncSocketPtr(new GCDAsyncSocket(std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
}

GCDAsyncSocketPtr GCDAsyncSocket::initWithSocketQueue(QueuePtr socketQueue) {
    return initWithDelegate({}, nullptr, std::move(socketQueue));
}

GCDAsyncSocketPtr GCDAsyncSocket::init() { return initWithDelegate({}, nullptr, nullptr); }

GCDAsyncSocket::~GCDAsyncSocket() {
    flags_ |= kDealloc;
    runSync([this] { closeWithError(nullptr); });
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
    delegate_.reset();
    delegateQueue_.reset();
}

// ---------------------------------------------------------------------------------------------
// Queue rules

bool GCDAsyncSocket::isOnCorrectQueue() const {
    return Queue::getSpecific(&isOnSocketQueueOrTargetQueueKey_) == this || socketQueue_->isCurrent();
}

void GCDAsyncSocket::runSync(const Block& block) const {
    if (isOnCorrectQueue()) block();
    else socketQueue_->sync(block);
}

void GCDAsyncSocket::runAsync(Block block) {
    if (isOnCorrectQueue()) {
        block();
        return;
    }
    socketQueue_->async([self = shared_from_this(), block = std::move(block)] { block(); });
}

void GCDAsyncSocket::notifyDelegate(std::function<void(GCDAsyncSocketDelegate&)> call,
                                    bool (GCDAsyncSocketDelegate::*responds)() const) {
    std::shared_ptr<GCDAsyncSocketDelegate> delegate = delegate_.lock();
    QueuePtr queue = delegateQueue_;
    if (!delegate || !queue) return;
    if (responds && !((*delegate).*responds)()) return;
    queue->async([delegate, call = std::move(call)] { call(*delegate); });
}

// ---------------------------------------------------------------------------------------------
// Delegate and configuration

std::shared_ptr<GCDAsyncSocketDelegate> GCDAsyncSocket::delegate() const {
    std::shared_ptr<GCDAsyncSocketDelegate> result;
    runSync([&] { result = delegate_.lock(); });
    return result;
}

QueuePtr GCDAsyncSocket::delegateQueue() const {
    QueuePtr result;
    runSync([&] { result = delegateQueue_; });
    return result;
}

void GCDAsyncSocket::getDelegate(std::shared_ptr<GCDAsyncSocketDelegate>* delegate, QueuePtr* delegateQueue) const {
    runSync([&] {
        if (delegate) *delegate = delegate_.lock();
        if (delegateQueue) *delegateQueue = delegateQueue_;
    });
}

void GCDAsyncSocket::setDelegateImpl(DelegatePtr delegate, bool setDelegate, QueuePtr queue, bool setQueue, bool sync) {
    Block block = [this, delegate = std::move(delegate), setDelegate, queue = std::move(queue), setQueue] {
        if (setDelegate) delegate_ = delegate;
        if (setQueue) delegateQueue_ = queue;
    };
    if (isOnCorrectQueue()) block();
    else if (sync) socketQueue_->sync(block);
    else socketQueue_->async([self = shared_from_this(), block] { block(); });
}

void GCDAsyncSocket::setDelegate(DelegatePtr d) { setDelegateImpl(std::move(d), true, nullptr, false, false); }
void GCDAsyncSocket::setDelegateQueue(QueuePtr q) { setDelegateImpl({}, false, std::move(q), true, false); }
void GCDAsyncSocket::setDelegate(DelegatePtr d, QueuePtr q) { setDelegateImpl(std::move(d), true, std::move(q), true, false); }
void GCDAsyncSocket::synchronouslySetDelegate(DelegatePtr d) { setDelegateImpl(std::move(d), true, nullptr, false, true); }
void GCDAsyncSocket::synchronouslySetDelegateQueue(QueuePtr q) { setDelegateImpl({}, false, std::move(q), true, true); }
void GCDAsyncSocket::synchronouslySetDelegate(DelegatePtr d, QueuePtr q) {
    setDelegateImpl(std::move(d), true, std::move(q), true, true);
}

void GCDAsyncSocket::setConfigBit(uint16_t bit, bool set) {
    runAsync([this, bit, set] {
        if (set) config_ |= bit;
        else config_ &= uint16_t(~bit);
    });
}

bool GCDAsyncSocket::isIPv4Enabled() const {
    bool r = false;
    runSync([&] { r = (config_ & kIPv4Disabled) == 0; });
    return r;
}
void GCDAsyncSocket::setIPv4Enabled(bool flag) { setConfigBit(kIPv4Disabled, !flag); }
bool GCDAsyncSocket::isIPv6Enabled() const {
    bool r = false;
    runSync([&] { r = (config_ & kIPv6Disabled) == 0; });
    return r;
}
void GCDAsyncSocket::setIPv6Enabled(bool flag) { setConfigBit(kIPv6Disabled, !flag); }
bool GCDAsyncSocket::isIPv4PreferredOverIPv6() const {
    bool r = false;
    runSync([&] { r = (config_ & kPreferIPv6) == 0; });
    return r;
}
void GCDAsyncSocket::setIPv4PreferredOverIPv6(bool flag) { setConfigBit(kPreferIPv6, !flag); }
double GCDAsyncSocket::alternateAddressDelay() const {
    double r = 0;
    runSync([&] { r = alternateAddressDelay_; });
    return r;
}
void GCDAsyncSocket::setAlternateAddressDelay(double delay) {
    runAsync([this, delay] { alternateAddressDelay_ = delay; });
}
std::any GCDAsyncSocket::userData() const {
    std::any r;
    runSync([&] { r = userData_; });
    return r;
}
void GCDAsyncSocket::setUserData(std::any data) {
    runAsync([this, data = std::move(data)] { userData_ = data; });
}

bool GCDAsyncSocket::autoDisconnectOnClosedReadStream() const {
    bool r = false;
    runSync([&] { r = (config_ & kAllowHalfDuplexConnection) == 0; });
    return r;
}
void GCDAsyncSocket::setAutoDisconnectOnClosedReadStream(bool flag) { setConfigBit(kAllowHalfDuplexConnection, !flag); }

void GCDAsyncSocket::performBlock(const Block& block) { runSync(block); }

int GCDAsyncSocket::socketFD() const {
    if (!isOnCorrectQueue()) return -1;
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}
int GCDAsyncSocket::socket4FD() const { return isOnCorrectQueue() ? socket4FD_ : -1; }
int GCDAsyncSocket::socket6FD() const { return isOnCorrectQueue() ? socket6FD_ : -1; }

// ---------------------------------------------------------------------------------------------
// Listening and accepting

bool GCDAsyncSocket::acceptOnPort(uint16_t port, ErrorPtr* error) { return acceptOnInterface("", port, error); }

bool GCDAsyncSocket::acceptOnInterface(const std::string& interface, uint16_t port, ErrorPtr* error) {
    bool result = false;
    ErrorPtr err;
    const std::string description = interface;
    runSync([&] { result = acceptImpl(description, port, &err); });
    if (!result && error) *error = err;
    return result;
}

int GCDAsyncSocket::createListeningSocket(int family, const Bytes& address, ErrorPtr* error) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        *error = socket_errors::errnoErrorWithReason("Error in socket() function");
        return -1;
    }
    auto fail = [&](const char* reason) {
        *error = socket_errors::errnoErrorWithReason(reason);
        ::close(fd);
        return -1;
    };
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) == -1) return fail("Error enabling non-blocking IO on socket (fcntl)");
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1)
        return fail("Error enabling address reuse (setsockopt)");
    // Linux lets an IPv6 wildcard socket take the IPv4 port as well unless it is IPv6 only;
    // the IPv4 descriptor already holds that port, so the IPv6 one keeps to IPv6.
    if (family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == -1)
        return fail("Error enabling IPv6-only (setsockopt)");
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size())) == -1)
        return fail("Error in bind() function");
    if (::listen(fd, 1024) == -1) return fail("Error in listen() function");
    return fd;
}

// The listening descriptor is closed by closeWithError right after the source is cancelled.
void GCDAsyncSocket::startAcceptSource(int fd, dispatch::SourcePtr& source) {
    source = Source::createRead(fd, socketQueue_);
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    std::weak_ptr<Source> weakSource = source;
    source->setEventHandler([weakSelf, weakSource, fd] {
        auto self = weakSelf.lock();
        auto source = weakSource.lock();
        if (!self || !source || source->isCancelled()) return;
        // No count of pending connections on Linux: accept until the queue is empty.
        while (self->doAccept(fd, source)) {
        }
    });
    source->resume();
}

namespace {
// How long a listener stops accepting when the process or the system has no descriptor (or
// memory) left for a new connection. The connections wait in the listen queue meanwhile.
constexpr double kAcceptPauseSeconds = 0.5;
}  // namespace

// Out of descriptors the pending connection cannot be taken, so the listening descriptor
// stays readable and its source would fire again at once, round after round, at full speed.
// The source rests instead and tries again later on the socket queue.
void GCDAsyncSocket::pauseAccepting(const dispatch::SourcePtr& source, int error) {
    if (!acceptPauseLogged_) {
        ServerLog("GCDAsyncSocket: cannot accept a connection (%s); accepting pauses for %.1f s at a time until "
                  "it succeeds",
                  std::strerror(error), kAcceptPauseSeconds);
        acceptPauseLogged_ = true;
    }
    source->suspend();
    // The source itself is kept, so that this resume balances the suspension even when the
    // listener was closed meanwhile (a cancelled source finishes its cancellation then).
    socketQueue_->after(kAcceptPauseSeconds, [source] { source->resume(); });
}

bool GCDAsyncSocket::hasDelegateFor(const char* action, ErrorPtr* error) const {
    if (!delegate_.lock()) {
        *error = socket_errors::badConfigError(std::string("Attempting to ") + action + " without a delegate. Set a delegate first.");
        return false;
    }
    if (!delegateQueue_) {
        *error = socket_errors::badConfigError(
            std::string("Attempting to ") + action + " without a delegate queue. Set a delegate queue first.");
        return false;
    }
    return true;
}

bool GCDAsyncSocket::isIdleFor(const char* action, ErrorPtr* error) const {
    if (flags_ & kSocketStarted) {
        *error = socket_errors::badConfigError(
            std::string("Attempting to ") + action + " while connected or accepting connections. Disconnect first.");
        return false;
    }
    return true;
}

bool GCDAsyncSocket::acceptImpl(const std::string& interface, uint16_t port, ErrorPtr* error) {
    if (!hasDelegateFor("accept", error)) return false;
    const bool v4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool v6Disabled = (config_ & kIPv6Disabled) != 0;
    if (v4Disabled && v6Disabled) {
        *error = socket_errors::badConfigError(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
        return false;
    }
    if (!isIdleFor("accept", error)) return false;
    dropQueuedReadsAndWrites();

    Bytes address4, address6;
    getInterfaceAddress(&address4, &address6, interface, port);
    if (address4.empty() && address6.empty()) {
        *error = socket_errors::badParamError(
            "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
        return false;
    }
    if (v4Disabled && address6.empty()) {
        *error = socket_errors::badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
        return false;
    }
    if (v6Disabled && address4.empty()) {
        *error = socket_errors::badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
        return false;
    }
    const bool enableIPv4 = !v4Disabled && !address4.empty();
    const bool enableIPv6 = !v6Disabled && !address6.empty();

    // With port 0 the system chooses the IPv4 port and IPv6 takes the same one; another
    // program may hold that port on IPv6 alone, so a few other choices are tried before the
    // bind error is reported.
    const int attempts = enableIPv4 && enableIPv6 && port == 0 ? 8 : 1;
    for (int attempt = 1;; ++attempt) {
        if (enableIPv4) {
            socket4FD_ = createListeningSocket(AF_INET, address4, error);
            if (socket4FD_ == -1) return false;
        }
        if (!enableIPv6) break;
        if (enableIPv4 && port == 0) {
            // Both families on the one port the system chose for IPv4.
            auto* a6 = reinterpret_cast<sockaddr_in6*>(address6.data());
            a6->sin6_port = htons(portOfName(socket4FD_, false, AF_INET));
        }
        socket6FD_ = createListeningSocket(AF_INET6, address6, error);
        if (socket6FD_ != -1) break;
        if (socket4FD_ != -1) {
            ::close(socket4FD_);
            socket4FD_ = -1;
        }
        const bool taken = *error && (*error)->domain == "NSPOSIXErrorDomain" && (*error)->code == EADDRINUSE;
        if (!taken || attempt >= attempts) return false;
        *error = nullptr;
    }
    if (enableIPv4) startAcceptSource(socket4FD_, accept4Source_);
    if (enableIPv6) startAcceptSource(socket6FD_, accept6Source_);
    flags_ |= kSocketStarted;
    return true;
}

bool GCDAsyncSocket::acceptOnUrl(const std::string& url, ErrorPtr* error) {
    bool result = false;
    ErrorPtr err;
    runSync([&] { result = acceptOnUrlImpl(url, &err); });
    if (!result && error) *error = err;
    return result;
}

bool GCDAsyncSocket::acceptOnUrlImpl(const std::string& url, ErrorPtr* error) {
    if (!hasDelegateFor("accept", error)) return false;
    if (!isIdleFor("accept", error)) return false;
    dropQueuedReadsAndWrites();

    const Bytes address = getInterfaceAddressFromUrl(url);
    if (address.empty()) {
        *error = socket_errors::badParamError(
            "Invalid unix domain url. Specify a valid file url that does not exist (e.g. \"file:///tmp/socket\")");
        return false;
    }
    sockaddr_un un{};
    std::memcpy(&un, address.data(), address.size());
    // A socket left behind by an earlier listener is removed; any other file is not ours to
    // delete, so the call fails and leaves it as it is.
    struct stat info {};
    if (::lstat(un.sun_path, &info) == 0 && (!S_ISSOCK(info.st_mode) || ::unlink(un.sun_path) != 0)) {
        *error = socket_errors::otherError("Could not remove previous unix domain socket at given url.");
        return false;
    }

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        *error = socket_errors::errnoErrorWithReason("Error in socket() function");
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size())) == -1) {
        *error = socket_errors::errnoErrorWithReason("Error in bind() function");
        ::close(fd);
        return false;
    }
    if (::listen(fd, 1024) == -1) {
        *error = socket_errors::errnoErrorWithReason("Error in listen() function");
        ::close(fd);
        ::unlink(un.sun_path);
        return false;
    }
    socketUN_ = fd;
    socketUrl_ = urlFromSockaddrUN(&un);
    startAcceptSource(socketUN_, acceptUNSource_);
    flags_ |= kSocketStarted;
    return true;
}

bool GCDAsyncSocket::doAccept(int listenFD, const dispatch::SourcePtr& source) {
    sockaddr_storage storage{};
    socklen_t length = listenFD == socket4FD_   ? socklen_t(sizeof(sockaddr_in))
                       : listenFD == socket6FD_ ? socklen_t(sizeof(sockaddr_in6))
                                                : socklen_t(sizeof(sockaddr_un));
    // Non-blocking and close-on-exec from the start (accepted sockets inherit neither).
    int childFD = ::accept4(listenFD, reinterpret_cast<sockaddr*>(&storage), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (childFD == -1) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) pauseAccepting(source, error);
        // A connection that was reset while it waited is gone; the next one may be there.
        return error == ECONNABORTED || error == EINTR;
    }
    acceptPauseLogged_ = false;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&storage);
    Bytes address(raw, raw + std::min<size_t>(length, sizeof storage));
    const int family = listenFD == socket4FD_ ? AF_INET : listenFD == socket6FD_ ? AF_INET6 : AF_UNIX;
    // SIGPIPE: every write of the socket passes MSG_NOSIGNAL (Linux has no socket option).

    if (!delegateQueue_) {
        // Nobody would take the connection: close it rather than leave it open unowned.
        ::close(childFD);
        return true;
    }
    std::shared_ptr<GCDAsyncSocketDelegate> delegate = delegate_.lock();
    GCDAsyncSocketPtr self = shared_from_this();
    delegateQueue_->async([delegate, address = std::move(address), self, childFD, family] {
        QueuePtr childQueue;
        if (delegate) childQueue = delegate->newSocketQueueForConnectionFromAddress(address, self);
        GCDAsyncSocketPtr child = initWithDelegate(delegate, self->delegateQueue(), childQueue);
        if (family == AF_INET) child->socket4FD_ = childFD;
        else if (family == AF_INET6) child->socket6FD_ = childFD;
        else child->socketUN_ = childFD;
        child->flags_ = kSocketStarted | kConnected;
        child->socketQueue_->async([child, childFD] { child->setupReadAndWriteSourcesForNewlyConnectedSocket(childFD); });
        if (delegate) delegate->socketDidAcceptNewSocket(self, child);
    });
    return true;
}

// ---------------------------------------------------------------------------------------------
// Closing

void GCDAsyncSocket::closeWithError(const ErrorPtr& error) {
    if (!isOnCorrectQueue()) socketProgrammingError("Must be dispatched on socketQueue");
    endConnectTimeout();
    // Attempts still under way: their descriptors are closed below with the others.
    cancelConnectSources();
    if (currentRead_) endCurrentRead();
    if (currentWrite_) endCurrentWrite();
    dropDeadline(readDeadline_);
    dropDeadline(writeDeadline_);
    dropQueuedReadsAndWrites();
    preBuffer_.reset();
    if (sslPreBuffer_) sslPreBuffer_->reset();
    lastSSLHandshakeError_ = 0;
    sslErrCode_ = 0;
    if (handshakeTimer_) {
        handshakeTimer_->cancel();
        handshakeTimer_.reset();
    }
    if (sslContext_) {
        sslContext_->close();
        sslContext_.reset();
    }
    sslPreBuffer_.reset();

    // Listening descriptors close here, once their sources are cancelled (cancelling takes
    // them out of the event set at once), so that the port is free when disconnect returns.
    for (auto* source : {&accept4Source_, &accept6Source_, &acceptUNSource_}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    if (readSource_ || writeSource_) {
        if (readSource_) {
            readSource_->cancel();
            resumeReadSource();
            readSource_.reset();
        }
        if (writeSource_) {
            writeSource_->cancel();
            resumeWriteSource();
            writeSource_.reset();
        }
        // The connection's sources close its descriptor once both have been cancelled.
        socket4FD_ = socket6FD_ = socketUN_ = -1;
    } else {
        for (int* fd : {&socket4FD_, &socket6FD_}) {
            if (*fd != -1) {
                ::close(*fd);
                *fd = -1;
            }
        }
        if (socketUN_ != -1) {
            ::close(socketUN_);
            socketUN_ = -1;
            if (!socketUrl_.empty()) {
                std::string path = socketUrl_.rfind("file://", 0) == 0 ? socketUrl_.substr(7) : socketUrl_;
                ::unlink(path.c_str());
            }
            socketUrl_.clear();
        }
    }

    const uint32_t oldFlags = flags_;
    socketFDBytesAvailable_ = 0;
    flags_ = 0;
    sslWriteCachedLength_ = 0;

    if (oldFlags & kSocketStarted) {
        GCDAsyncSocketPtr self = (oldFlags & kDealloc) ? nullptr : shared_from_this();
        notifyDelegate([self, error](GCDAsyncSocketDelegate& d) { d.socketDidDisconnect(self, error); });
    }
}

void GCDAsyncSocket::disconnect() {
    runSync([this] {
        if (flags_ & kSocketStarted) closeWithError(nullptr);
    });
}

void GCDAsyncSocket::disconnectAfter(uint32_t bits) {
    socketQueue_->async([self = shared_from_this(), bits] {
        if (self->flags_ & kSocketStarted) {
            self->flags_ |= kForbidReadsWrites | bits;
            self->maybeClose();
        }
    });
}

void GCDAsyncSocket::disconnectAfterReading() { disconnectAfter(kDisconnectAfterReads); }
void GCDAsyncSocket::disconnectAfterWriting() { disconnectAfter(kDisconnectAfterWrites); }
void GCDAsyncSocket::disconnectAfterReadingAndWriting() { disconnectAfter(kDisconnectAfterReads | kDisconnectAfterWrites); }

void GCDAsyncSocket::maybeClose() {
    if (!isOnCorrectQueue()) socketProgrammingError("Must be dispatched on socketQueue");
    bool shouldClose = false;
    if (flags_ & kDisconnectAfterReads) {
        if (readQueue_.empty() && !currentRead_) {
            if (flags_ & kDisconnectAfterWrites) {
                if (writeQueue_.empty() && !currentWrite_) shouldClose = true;
            } else {
                shouldClose = true;
            }
        }
    } else if (flags_ & kDisconnectAfterWrites) {
        if (writeQueue_.empty() && !currentWrite_) shouldClose = true;
    }
    if (shouldClose) closeWithError(nullptr);
}

// ---------------------------------------------------------------------------------------------
// State and address queries

bool GCDAsyncSocket::isDisconnected() const {
    bool r = false;
    runSync([&] { r = (flags_ & kSocketStarted) == 0; });
    return r;
}
bool GCDAsyncSocket::isConnected() const {
    bool r = false;
    runSync([&] { r = (flags_ & kConnected) != 0; });
    return r;
}
bool GCDAsyncSocket::isIPv4() const {
    bool r = false;
    runSync([&] { r = socket4FD_ != -1; });
    return r;
}
bool GCDAsyncSocket::isIPv6() const {
    bool r = false;
    runSync([&] { r = socket6FD_ != -1; });
    return r;
}
bool GCDAsyncSocket::isSecure() const {
    bool r = false;
    runSync([&] { r = (flags_ & kSocketSecure) != 0; });
    return r;
}

bool GCDAsyncSocket::peerHasClosed() const {
    bool r = true;
    runSync([&] {
        int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_ != -1 ? socket6FD_ : socketUN_;
        if (fd == -1 || !(flags_ & kConnected)) return;
        pollfd p{fd, POLLRDHUP, 0};
        r = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
    });
    return r;
}

std::string GCDAsyncSocket::connectedHost() const {
    std::string r;
    runSync([&] {
        if (socket4FD_ != -1) r = hostOfName(socket4FD_, true, AF_INET);
        else if (socket6FD_ != -1) r = hostOfName(socket6FD_, true, AF_INET6);
    });
    return r;
}
uint16_t GCDAsyncSocket::connectedPort() const {
    uint16_t r = 0;
    runSync([&] {
        if (socket4FD_ != -1) r = portOfName(socket4FD_, true, AF_INET);
        else if (socket6FD_ != -1) r = portOfName(socket6FD_, true, AF_INET6);
    });
    return r;
}
std::string GCDAsyncSocket::localHost() const {
    std::string r;
    runSync([&] {
        if (socket4FD_ != -1) r = hostOfName(socket4FD_, false, AF_INET);
        else if (socket6FD_ != -1) r = hostOfName(socket6FD_, false, AF_INET6);
    });
    return r;
}
uint16_t GCDAsyncSocket::localPort() const {
    uint16_t r = 0;
    runSync([&] {
        if (socket4FD_ != -1) r = portOfName(socket4FD_, false, AF_INET);
        else if (socket6FD_ != -1) r = portOfName(socket6FD_, false, AF_INET6);
    });
    return r;
}
std::string GCDAsyncSocket::connectedUrl() const {
    std::string r;
    runSync([&] {
        if (socketUN_ == -1) return;
        Bytes a = addressOfName(socketUN_, true);
        if (a.size() > offsetof(sockaddr_un, sun_path)) {
            sockaddr_un un{};
            std::memcpy(&un, a.data(), std::min(a.size(), sizeof un));
            r = urlFromSockaddrUN(&un);
        }
    });
    return r;
}
Bytes GCDAsyncSocket::connectedAddress() const {
    Bytes r;
    runSync([&] {
        if (socket4FD_ != -1) r = addressOfName(socket4FD_, true);
        if (socket6FD_ != -1) r = addressOfName(socket6FD_, true);
    });
    return r;
}
Bytes GCDAsyncSocket::localAddress() const {
    Bytes r;
    runSync([&] {
        if (socket4FD_ != -1) r = addressOfName(socket4FD_, false);
        if (socket6FD_ != -1) r = addressOfName(socket6FD_, false);
    });
    return r;
}

std::string GCDAsyncSocket::connectedHost4() const { std::string r; runSync([&] { if (socket4FD_ != -1) r = hostOfName(socket4FD_, true, AF_INET); }); return r; }
std::string GCDAsyncSocket::connectedHost6() const { std::string r; runSync([&] { if (socket6FD_ != -1) r = hostOfName(socket6FD_, true, AF_INET6); }); return r; }
uint16_t GCDAsyncSocket::connectedPort4() const { uint16_t r = 0; runSync([&] { if (socket4FD_ != -1) r = portOfName(socket4FD_, true, AF_INET); }); return r; }
uint16_t GCDAsyncSocket::connectedPort6() const { uint16_t r = 0; runSync([&] { if (socket6FD_ != -1) r = portOfName(socket6FD_, true, AF_INET6); }); return r; }
std::string GCDAsyncSocket::localHost4() const { std::string r; runSync([&] { if (socket4FD_ != -1) r = hostOfName(socket4FD_, false, AF_INET); }); return r; }
std::string GCDAsyncSocket::localHost6() const { std::string r; runSync([&] { if (socket6FD_ != -1) r = hostOfName(socket6FD_, false, AF_INET6); }); return r; }
uint16_t GCDAsyncSocket::localPort4() const { uint16_t r = 0; runSync([&] { if (socket4FD_ != -1) r = portOfName(socket4FD_, false, AF_INET); }); return r; }
uint16_t GCDAsyncSocket::localPort6() const { uint16_t r = 0; runSync([&] { if (socket6FD_ != -1) r = portOfName(socket6FD_, false, AF_INET6); }); return r; }

}  // namespace telvo
