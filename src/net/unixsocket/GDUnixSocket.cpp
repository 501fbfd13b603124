// Framed dictionary exchange over one Unix-domain stream socket.
#include "net/unixsocket/GDUnixSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include "foundation/ServerLog.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/BlockingScope.h"
#include "platform/dispatch/Queue.h"
#include "platform/fs/Root.h"

namespace telvo {

namespace {

std::string makeUUID() {
    uint8_t b[16];
    crypto::randomBytes(b, sizeof b);
    b[6] = uint8_t((b[6] & 0x0f) | 0x40);
    b[8] = uint8_t((b[8] & 0x3f) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

}  // namespace

bool GDUnixSocket::isAcceptablePath(const std::string& path) {
    if (path == kDummyPath) return true;
    if (path.empty() || path.find('/') == std::string::npos || path.size() >= 104) return false;
    if (path.size() > 1 && path.back() == '/') return false;
    // Every component between slashes must be a real name.
    size_t start = path[0] == '/' ? 1 : 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

GDUnixSocketPtr GDUnixSocket::initWithSocketPath(const std::string& path, size_t fragmentSize) {
    if (!isAcceptablePath(path)) return nullptr;
    return GDUnixSocketPtr(new GDUnixSocket(path, fragmentSize ? fragmentSize : kDefaultFragmentSize));
}

GDUnixSocket::GDUnixSocket(std::string path, size_t fragmentSize)
    : socketPath_(std::move(path)), fragmentSize_(fragmentSize) {}

GDUnixSocket::~GDUnixSocket() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
}

int GDUnixSocket::fd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_;
}

void GDUnixSocket::setFd(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    if (fd >= 0 && state_ == kStateNone) state_ = kStateConnected;
}

std::string GDUnixSocket::uniqueID() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (uniqueID_.empty()) uniqueID_ = makeUUID();
    return uniqueID_;
}

uint64_t GDUnixSocket::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void GDUnixSocket::setState(uint64_t state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}

std::shared_ptr<GDUnixSocketDelegate> GDUnixSocket::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void GDUnixSocket::setDelegate(const std::shared_ptr<GDUnixSocketDelegate>& delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = delegate;
}

void GDUnixSocket::setPeerCredentials(const xpc::PeerCredentials& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    peer_ = peer;
}

xpc::PeerCredentials GDUnixSocket::peerCredentials() const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (peer_) return *peer_;
    }
    xpc::PeerCredentials peer;
    int f = fd();
    if (f >= 0) xpc::readPeerCredentials(f, peer);
    return peer;
}

bool GDUnixSocket::fillAddress(sockaddr_un& address, socklen_t& length) const {
    std::string host = fs::resolve(socketPath_);
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) return false;
    host.copy(address.sun_path, host.size());
    length = socklen_t(offsetof(sockaddr_un, sun_path) + host.size() + 1);
    return true;
}

ssize_t GDUnixSocket::writeDictionary(const Value& dictionary, ErrorPtr* error) {
    return writeData(GDUnixSocketEncodeFrame(dictionary), error);
}

ssize_t GDUnixSocket::writeData(const std::string& data, ErrorPtr* error) {
    if (data.empty()) return 0;
    // One writer at a time, so that frames of two threads never interleave.
    std::lock_guard<std::mutex> writing(writeMutex_);
    int f = fd();
    if (f < 0) {
        if (error) *error = GDUnixSocketError(kGDUnixSocketErrorBadSocket);
        return -1;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(f, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorWrite, f, errno);
            return -1;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

std::optional<std::string> GDUnixSocket::readWithError(ErrorPtr* error) {
    int f = fd();
    if (f < 0) {
        if (error) *error = GDUnixSocketError(kGDUnixSocketErrorBadSocket);
        return std::nullopt;
    }
    std::string buf(fragmentSize_, '\0');
    for (;;) {
        ssize_t n = ::read(f, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorRead, f, errno);
            return std::nullopt;
        }
        if (n == 0) return std::nullopt;
        buf.resize(size_t(n));
        return buf;
    }
}

void GDUnixSocket::readWithCompletion(std::function<void(std::optional<std::string>, ErrorPtr)> completion) {
    auto self = shared_from_this();
    dispatch::Queue::global()->async([self, completion] {
        ErrorPtr error;
        auto data = self->readWithError(&error);
        if (completion) completion(std::move(data), error);
    });
}

void GDUnixSocket::writeData(const std::string& data, std::function<void(ssize_t, ErrorPtr)> completion) {
    auto self = shared_from_this();
    dispatch::Queue::global()->async([self, data, completion] {
        ErrorPtr error;
        ssize_t n = self->writeData(data, &error);
        if (completion) completion(n, error);
    });
}

bool GDUnixSocket::close() { return closeWithError(nullptr); }

bool GDUnixSocket::closeWithError(ErrorPtr* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == kStateClosed) return true;
    if (fd_ < 0) {
        if (error) *error = GDUnixSocketError(kGDUnixSocketErrorBadSocket);
        return false;
    }
    // Wakes a read loop blocked on its own descriptor of this socket.
    ::shutdown(fd_, SHUT_RDWR);
    int f = fd_;
    if (::close(f) != 0) {
        if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorClose, f, errno);
        return false;
    }
    fd_ = -1;
    state_ = kStateClosed;
    return true;
}

void GDUnixSocket::startReadLoop() {
    int readFd = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reading_ || fd_ < 0) return;
        reading_ = true;
        // The loop reads its own descriptor of the socket: closing ours shuts the socket down
        // and ends the loop without a read on a number the process may have reused.
        readFd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    }
    if (readFd < 0) return;
    auto self = shared_from_this();
    dispatch::Queue::global()->async([self, readFd] { self->readLoop(readFd); });
}

void GDUnixSocket::readLoop(int readFd) {
    // The loop holds its worker for the life of the connection.
    dispatch::BlockingScope blocking;
    GDUnixSocketFrameDecoder decoder;
    std::string buf(fragmentSize_, '\0');
    for (;;) {
        ssize_t n = ::read(readFd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::vector<Value> frames = decoder.feed(buf.data(), size_t(n));
        if (decoder.failed()) {
            DLog("unix socket %@: frame larger than %lu bytes, closing", uniqueID(),
                 (unsigned long)GDUnixSocketFrameDecoder::kDefaultLimit);
            break;
        }
        for (const Value& frame : frames)
            if (auto d = delegate()) d->unixSocketReceivedDictionary(frame, this);
    }
    ::close(readFd);
    close();
}

}  // namespace telvo
