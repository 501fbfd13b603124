// Listening for, vetting and accepting control-socket connections.
#include "net/unixsocket/GDUnixSocketServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"

namespace telvo {

GDUnixSocketServerPtr GDUnixSocketServer::initWithSocketPath(const std::string& path, size_t fragmentSize) {
    if (!isAcceptablePath(path) || path == kDummyPath) return nullptr;
    return GDUnixSocketServerPtr(new GDUnixSocketServer(path, fragmentSize ? fragmentSize : kDefaultFragmentSize));
}

GDUnixSocketServer::GDUnixSocketServer(std::string path, size_t fragmentSize)
    : GDUnixSocket(std::move(path), fragmentSize), queue_(dispatch::Queue::createSerial("GDUnixSocketServer")) {}

GDUnixSocketServer::~GDUnixSocketServer() {
    if (source_) {
        int f = fd();
        setFd(-1);
        source_->setCancelHandler([f] { ::close(f); });
        source_->cancel();
    }
}

std::vector<GDUnixSocketPtr> GDUnixSocketServer::connectedClients() const {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    return connectedClients_;
}

bool GDUnixSocketServer::listenWithMaxConnections(int backlog, ErrorPtr* error) {
    auto fail = [&](ErrorPtr e) {
        closeServer(true, nullptr);
        if (error) *error = e;
        return false;
    };
    int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (f < 0) {
        if (error) *error = GDUnixSocketErrnoError(kGDUnixSocketErrorBadSocket, f, errno);
        return false;
    }
    setFd(f);
    setState(kStateNone);
    sockaddr_un address;
    socklen_t length = 0;
    if (!fillAddress(address, length))
        return fail(GDUnixSocketError(kGDUnixSocketErrorListen, "The socket path is inconsistent"));
    // A socket file left by a run that is gone refuses the bind: remove it, but only when
    // nobody answers on it.
    struct stat st{};
    if (lstat(address.sun_path, &st) == 0 && S_ISSOCK(st.st_mode)) {
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe >= 0) {
            if (::connect(probe, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno == ECONNREFUSED)
                ::unlink(address.sun_path);
            ::close(probe);
        }
    }
    if (::bind(f, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return fail(GDUnixSocketErrnoError(kGDUnixSocketErrorBind, f, errno));
    bound_ = true;
    // Owner and group only; nobody else may connect.
    if (::chmod(address.sun_path, 0660) != 0) return fail(GDUnixSocketErrnoError(kGDUnixSocketErrorBind, f, errno));
    if (::listen(f, backlog > 0 ? backlog : 5) != 0)
        return fail(GDUnixSocketErrnoError(kGDUnixSocketErrorListen, f, errno));

    if (error) *error = nullptr;
    std::weak_ptr<GDUnixSocketServer> weak = std::static_pointer_cast<GDUnixSocketServer>(shared_from_this());
    source_ = dispatch::Source::createRead(f, queue_);
    source_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->acceptPending();
    });
    source_->resume();
    setState(kStateListening);
    if (auto d = delegate()) d->unixSocketServerDidStartListening(this);
    return true;
}

void GDUnixSocketServer::acceptPending() {
    for (;;) {
        int listenFd = fd();
        if (listenFd < 0) return;
        DLog("accepting socket");
        int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return;
            ErrorPtr e = GDUnixSocketErrnoError(kGDUnixSocketErrorAccept, listenFd, errno);
            bool open;
            {
                std::lock_guard<std::mutex> lock(closeLock_);
                open = !closing_ && state() == kStateListening;
            }
            if (open) {
                if (auto d = delegate()) d->unixSocketServerDidFailToAcceptConnection(this, e);
                closeWithError(nullptr);
            }
            return;
        }
        xpc::PeerCredentials peer;
        xpc::pinPeerCredentials(c, peer);
        auto d = delegate();
        if (d && !d->unixSocketServerShouldAcceptPeer(this, peer)) {
            ::close(c);
            continue;
        }
        GDUnixSocketPtr client = GDUnixSocket::initWithSocketPath(kDummyPath, fragmentSize());
        client->setFd(c);
        client->setPeerCredentials(peer);
        client->setDelegate(d);
        {
            std::lock_guard<std::mutex> lock(clientsMutex_);
            // Clients that have closed are dropped from the list as new ones come.
            std::erase_if(connectedClients_, [](const GDUnixSocketPtr& s) { return s->state() == kStateClosed; });
            connectedClients_.push_back(client);
        }
        client->startReadLoop();
        if (d) d->unixSocketServerDidAcceptClientWithID(this, client->uniqueID());
    }
}

bool GDUnixSocketServer::closeWithError(ErrorPtr* error) { return closeServer(false, error); }

void GDUnixSocketServer::closeSilently() { closeServer(true, nullptr); }

bool GDUnixSocketServer::closeServer(bool silently, ErrorPtr* error) {
    std::lock_guard<std::mutex> lock(closeLock_);
    if (state() == kStateClosed) return true;
    closing_ = true;
    ErrorPtr failure;
    sockaddr_un address;
    socklen_t length = 0;
    if (bound_ && fillAddress(address, length)) {
        struct stat st{};
        if (lstat(address.sun_path, &st) == 0 && S_ISSOCK(st.st_mode) && ::unlink(address.sun_path) != 0) {
            failure = GDUnixSocketErrnoError(kGDUnixSocketErrorUnlink, fd(), errno);
            closing_ = false;
            if (error) *error = failure;
            return false;
        }
    }
    bound_ = false;
    int f = fd();
    setFd(-1);
    if (source_) {
        // The descriptor is closed once the source can no longer use it.
        source_->setCancelHandler([f] { ::close(f); });
        source_->cancel();
        source_.reset();
    } else if (f >= 0) {
        ::close(f);
    }
    setState(kStateClosed);
    if (!silently)
        if (auto d = delegate()) d->unixSocketServerDidClose(this, failure);
    if (error) *error = nullptr;
    return true;
}

}  // namespace telvo
