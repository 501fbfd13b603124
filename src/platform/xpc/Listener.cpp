// Listening on a service socket and handing callers to the delegate.
#include "platform/xpc/Listener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include "platform/fs/Root.h"
#include "platform/xpc/InheritedSocket.h"
#include "platform/xpc/Log.h"
#include "platform/xpc/RunFolder.h"

namespace telvo::xpc {

ListenerPtr Listener::create(const std::string& serviceName) { return ListenerPtr(new Listener(serviceName)); }

Listener::Listener(std::string serviceName)
    : serviceName_(std::move(serviceName)),
      path_(Connection::servicePath(serviceFolderForThisProcess(), serviceName_)),
      queue_(dispatch::Queue::createSerial("xpc.listener." + serviceName_)) {}

Listener::~Listener() { invalidate(); }

void Listener::setDelegate(const std::shared_ptr<ListenerDelegate>& delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = delegate;
}

std::vector<ConnectionPtr> Listener::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ConnectionPtr> live;
    for (const auto& c : connections_)
        if (!c->isInvalidated()) live.push_back(c);
    return live;
}

ErrorPtr Listener::resume() {
    auto posix = [&](int err, const std::string& what) {
        return makeError("NSPOSIXErrorDomain", err, what + ": " + std::strerror(err));
    };
    if (int inherited = inheritedListeningDescriptor(serviceName_); inherited >= 0) {
        startSource(inherited, true);
        return nullptr;
    }
    bool system = geteuid() == 0;
    std::string folder = serviceFolderForThisProcess();
    if (ErrorPtr e = prepareRunFolder(folder, system ? 0755 : 0700)) return e;
    std::string host = fs::resolve(path_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) return posix(ENAMETOOLONG, host);
    host.copy(address.sun_path, host.size());
    int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (f < 0) return posix(errno, "socket");
    struct stat st{};
    if (lstat(host.c_str(), &st) == 0) {
        // A socket nobody answers on is left from an earlier run; anything else stays.
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool stale = S_ISSOCK(st.st_mode) && probe >= 0 &&
                     ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                     errno == ECONNREFUSED;
        if (probe >= 0) ::close(probe);
        if (stale) ::unlink(host.c_str());
    }
    if (::bind(f, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int err = errno;
        ::close(f);
        return posix(err, "bind " + host);
    }
    // Anyone may connect; each service decides whom it serves by the caller's credentials.
    ::chmod(host.c_str(), 0666);
    if (::listen(f, 64) != 0) {
        int err = errno;
        ::close(f);
        ::unlink(host.c_str());
        return posix(err, "listen " + host);
    }
    startSource(f, false);
    return nullptr;
}

void Listener::startSource(int f, bool adopted) {
    std::weak_ptr<Listener> weak = weak_from_this();
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = f;
    adopted_ = adopted;
    source_ = dispatch::Source::createRead(f, queue_);
    source_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->acceptPending();
    });
    source_->resume();
}

bool Listener::adopted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return adopted_;
}

void Listener::acceptPending() {
    for (;;) {
        int listenFd;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            listenFd = fd_;
        }
        if (listenFd < 0) return;
        int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                log("accept on " + serviceName_ + " failed: " + std::strerror(errno));
            return;
        }
        ConnectionPtr connection = Connection::accepted(serviceName_, c);
        std::shared_ptr<ListenerDelegate> delegate;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delegate = delegate_.lock();
        }
        if (!delegate || !delegate->shouldAcceptNewConnection(*this, connection)) {
            connection->invalidate();
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                          [](const ConnectionPtr& x) { return x->isInvalidated(); }),
                           connections_.end());
        connections_.push_back(connection);
    }
}

void Listener::invalidate() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return;
    int f = fd_;
    fd_ = -1;
    if (!adopted_) ::unlink(fs::resolve(path_).c_str());
    if (source_) {
        source_->setCancelHandler([f] { ::close(f); });
        source_->cancel();
        source_.reset();
    } else {
        ::close(f);
    }
}

}  // namespace telvo::xpc
