// Connections of the XPC stand-in: framing, dispatch of calls and replies, and the
// connection's life.
#include "platform/xpc/Connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include "platform/fs/Root.h"
#include "platform/xpc/Log.h"
#include "platform/xpc/RunFolder.h"

namespace telvo::xpc {

namespace {
constexpr int kWriteTimeoutMs = 10000;
}

std::string Connection::servicePath(const std::string& serviceName) { return servicePath(kServiceFolder, serviceName); }

std::string Connection::servicePath(const std::string& folder, const std::string& serviceName) {
    return folder + "/" + serviceName;
}

Connection::Connection(std::string serviceName, bool client, int fd)
    : serviceName_(std::move(serviceName)),
      client_(client),
      queue_(dispatch::Queue::createSerial("xpc.connection." + serviceName_)),
      fd_(fd) {
    queue_->suspend();
}

Connection::~Connection() { closeDescriptor(); }

ConnectionPtr Connection::connectToService(const std::string& serviceName, unsigned options) {
    ConnectionPtr c(new Connection(serviceName, true, -1));
    c->path_ = (options & kPrivileged) ? servicePath(serviceName) : servicePath(userServiceFolder(geteuid()), serviceName);
    std::weak_ptr<Connection> weak = c;
    c->queue_->async([weak] {
        if (auto self = weak.lock()) self->start();
    });
    return c;
}

ConnectionPtr Connection::accepted(const std::string& serviceName, int fd) {
    ConnectionPtr c(new Connection(serviceName, false, fd));
    readPeerCredentials(fd, c->peer_);
    std::weak_ptr<Connection> weak = c;
    c->queue_->async([weak] {
        if (auto self = weak.lock()) self->start();
    });
    return c;
}

void Connection::setExportedInterface(InterfacePtr interface) {
    std::lock_guard<std::mutex> lock(mutex_);
    exported_ = std::move(interface);
}

void Connection::setInterruptionHandler(dispatch::Block handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    interruptionHandler_ = std::move(handler);
}

void Connection::setInvalidationHandler(dispatch::Block handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    invalidationHandler_ = std::move(handler);
}

PeerCredentials Connection::peerCredentials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peer_;
}

void Connection::resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (resumed_) return;
        resumed_ = true;
    }
    queue_->resume();
}

void Connection::invalidate() {
    // From now on nothing more is read: a refused caller's call that already arrived is not
    // looked at, the caller only sees the close.
    invalidating_ = true;
    // A connection that never ran is started so that its invalidation is told.
    resume();
    auto self = shared_from_this();
    queue_->async([self] { self->finish(false); });
}

void Connection::start() {
    if (invalidated_ || invalidating_) return;
    if (client_) {
        if (!connectNow()) finish(false);
        return;
    }
    std::weak_ptr<Connection> weak = weak_from_this();
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    source_ = dispatch::Source::createRead(fd_, queue_);
    source_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->readable();
    });
    source_->resume();
}

bool Connection::connectNow() {
    int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (f < 0) return false;
    std::string host = fs::resolve(path_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) {
        ::close(f);
        log("service path too long: " + host);
        return false;
    }
    host.copy(address.sun_path, host.size());
    if (::connect(f, reinterpret_cast<sockaddr*>(&address), socklen_t(sizeof address)) != 0) {
        ::close(f);
        return false;
    }
    fcntl(f, F_SETFL, fcntl(f, F_GETFL) | O_NONBLOCK);
    std::weak_ptr<Connection> weak = weak_from_this();
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = f;
    readPeerCredentials(f, peer_);
    decoder_ = MessageDecoder();
    source_ = dispatch::Source::createRead(f, queue_);
    source_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->readable();
    });
    source_->resume();
    return true;
}

void Connection::readable() {
    if (invalidating_) return;
    int f;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f = fd_;
    }
    if (f < 0) return;
    char buf[65536];
    ssize_t n = ::read(f, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        peerGone();
        return;
    }
    std::vector<Value> messages = decoder_.feed(buf, size_t(n));
    for (const Value& m : messages) {
        if (invalidated_ || invalidating_) return;
        handle(m);
    }
    if (decoder_.failed()) {
        log("connection to " + serviceName_ + ": message too large, closing");
        peerGone();
    }
}

void Connection::handle(const Value& message) {
    const std::string& type = message["type"].string();
    if (type == "call") {
        const std::string& name = message["op"].string();
        bool wantsReply = message.has("id");
        int64_t id = message["id"].intValue();
        ValueArray args;
        InterfacePtr exported;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            exported = exported_;
        }
        std::string why;
        if (!unpackArguments(message["args"], args))
            why = name + ": damaged arguments";
        else if (!exported)
            why = "no exported interface";
        else
            why = exported->check(name, args, wantsReply);
        if (!why.empty()) {
            log("call refused on " + serviceName_ + ": " + why);
            if (wantsReply) {
                Value error;
                error.set("type", "error");
                error.set("id", Value(static_cast<long long>(id)));
                error.set("message", why);
                send(error);
            }
            return;
        }
        Reply reply;
        if (wantsReply) {
            std::weak_ptr<Connection> weak = weak_from_this();
            reply = Reply([weak, id](const Value& v) {
                auto self = weak.lock();
                if (!self) return;
                Value answer;
                answer.set("type", "reply");
                answer.set("id", Value(static_cast<long long>(id)));
                if (!v.isNull()) answer.set("value", v);
                self->send(answer);
            });
        }
        exported->find(name)->handler(args, reply);
        return;
    }
    if (type == "reply" || type == "error") {
        ReplyHandler handler;
        Pending pending;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = pending_.find(message["id"].intValue());
            if (it == pending_.end()) return;
            pending = std::move(it->second);
            pending_.erase(it);
        }
        handler = std::move(pending.reply);
        if (type == "error") {
            log("call refused by " + serviceName_ + ": " + message["message"].string());
            if (pending.error)
                pending.error(makeError("NSCocoaErrorDomain", kReplyInvalid, message["message"].string()));
            return;
        }
        if (handler) handler(message["value"]);
    }
}

void Connection::closeDescriptor() {
    std::lock_guard<std::mutex> writing(writeMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    int f = fd_;
    fd_ = -1;
    if (source_) {
        source_->setCancelHandler([f] {
            if (f >= 0) ::close(f);
        });
        source_->cancel();
        source_.reset();
    } else if (f >= 0) {
        ::close(f);
    }
}

void Connection::peerGone() {
    closeDescriptor();
    if (!client_) {
        finish(false);
        return;
    }
    failPending(kInterrupted, "the connection to " + serviceName_ + " was interrupted");
    dispatch::Block handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = interruptionHandler_;
    }
    if (handler && !invalidated_) handler();
}

void Connection::failPending(long code, const std::string& why) {
    std::map<int64_t, Pending> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(pending_);
    }
    for (auto& [id, p] : dropped)
        if (p.error) p.error(makeError("NSCocoaErrorDomain", code, why));
}

void Connection::finish(bool) {
    if (invalidated_.exchange(true)) return;
    closeDescriptor();
    failPending(kInvalid, "the connection to " + serviceName_ + " is invalid");
    dispatch::Block handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = std::move(invalidationHandler_);
        interruptionHandler_ = nullptr;
        invalidationHandler_ = nullptr;
        exported_.reset();
    }
    if (handler) handler();
}

bool Connection::send(const Value& message) {
    std::string bytes = encodeMessage(message);
    std::lock_guard<std::mutex> writing(writeMutex_);
    int f;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f = fd_;
    }
    if (f < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(f, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{f, POLLOUT, 0};
            if (poll(&p, 1, kWriteTimeoutMs) <= 0) return false;
            continue;
        }
        if (n < 0) return false;
        done += size_t(n);
    }
    return true;
}

void Connection::call(const std::string& operation, const ValueArray& arguments, ReplyHandler reply,
                      ErrorHandler error) {
    auto self = shared_from_this();
    queue_->async([self, operation, arguments, reply, error] {
        if (self->invalidated_ || self->invalidating_) {
            if (error) error(makeError("NSCocoaErrorDomain", kInvalid, "the connection to " + self->serviceName_ + " is invalid"));
            return;
        }
        bool connected;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            connected = self->fd_ >= 0;
        }
        if (!connected) {
            if (!self->client_ || !self->connectNow()) {
                if (error)
                    error(makeError("NSCocoaErrorDomain", kInvalid, "no service " + self->serviceName_));
                self->finish(false);
                return;
            }
        }
        Value message;
        message.set("type", "call");
        message.set("op", operation);
        message.set("args", packArguments(arguments));
        if (reply) {
            std::lock_guard<std::mutex> lock(self->mutex_);
            int64_t id = self->nextID_++;
            self->pending_[id] = Pending{reply, error};
            message.set("id", Value(static_cast<long long>(id)));
        }
        if (!self->send(message) && error) {
            // Not sent: the drop shows up as the peer going away; a call without a reply is
            // told here, a pending one when the connection notices.
            if (!reply) error(makeError("NSCocoaErrorDomain", kInterrupted, "the call to " + self->serviceName_ + " was not sent"));
        }
    });
}

}  // namespace telvo::xpc
