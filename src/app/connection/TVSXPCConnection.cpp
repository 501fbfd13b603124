// The application's connection to the daemon: connect, drop and reconnect, the older route.
#include "app/connection/TVSXPCConnection.h"

#include <unistd.h>

#include <mutex>

#include "app/connection/TVSXPCConnectionDelegate.h"
#include "foundation/ControlChannel.h"
#include "foundation/KXRVersions.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo::app {

namespace {

std::mutex gSharedMutex;
std::shared_ptr<TVSXPCConnection> gShared;

ErrorPtr connectionError(long code, const std::string& message) {
    return makeError("TVSXPCConnection", code, message);
}

}  // namespace

TVSXPCConnection& TVSXPCConnection::sharedXPCConnection() { return *sharedXPCConnectionPtr(); }

std::shared_ptr<TVSXPCConnection> TVSXPCConnection::sharedXPCConnectionPtr() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared.reset(new TVSXPCConnection());
    return gShared;
}

void TVSXPCConnection::resetForTesting() {
    std::shared_ptr<TVSXPCConnection> old;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        old.swap(gShared);
    }
    if (!old) return;
    old->delegate_ = nullptr;
    old->closed_ = true;  // a reconnect still pending does nothing
    if (old->connection_) old->connection_->invalidate();
    old->connection_.reset();
    if (old->connectionLegacy_) old->connectionLegacy_->close();
    old->connectionLegacy_.reset();
    old->outstanding_.clear();
}

TVSXPCConnection::TVSXPCConnection() : serviceRoute_(KXRVersions::sharedVersions().mountainLion()) {
    // Labelled with the object's own description, as the platform's queues are.
    queue_ = dispatch::Queue::createSerial(format("<TVSXPCConnection: %p>", static_cast<const void*>(this)));
}

TVSXPCConnection::~TVSXPCConnection() {
    if (connection_) connection_->invalidate();
    if (connectionLegacy_) connectionLegacy_->close();
}

void TVSXPCConnection::post() {
    auto& center = notify::NotificationCenter::defaultCenter();
    for (const char* name : kUpdateNotifications) center.post(name);
}

void TVSXPCConnection::connect() {
    if (closed_) return;
    if (serviceRoute_)
        connectService();
    else
        connectLegacy();
}

void TVSXPCConnection::connectService() {
    if (connection_) return;
    xpc::ConnectionPtr c = xpc::Connection::connectToService(channel::kServiceName, xpc::Connection::kPrivileged);
    connection_ = c;
    answered_ = false;
    std::weak_ptr<TVSXPCConnection> weakSelf = weak_from_this();
    std::weak_ptr<xpc::Connection> weakConnection = c;
    // Each drop handler clears itself, then passes through the private queue to the main
    // queue, where the connection it belongs to is let go (if it still is the current one).
    auto handler = [weakSelf, weakConnection](bool interruption) {
        return [weakSelf, weakConnection, interruption] {
            auto self = weakSelf.lock();
            auto which = weakConnection.lock();
            if (!self || !which) return;
            if (interruption)
                which->setInterruptionHandler(nullptr);
            else
                which->setInvalidationHandler(nullptr);
            self->queue_->async([weakSelf, weakConnection] {
                dispatch::Queue::main()->async([weakSelf, weakConnection] {
                    auto self = weakSelf.lock();
                    auto which = weakConnection.lock();
                    if (self && which)
                        self->dropped(which, connectionError(kAbandoned, "the connection to the daemon ended"));
                });
            });
        };
    };
    c->setInterruptionHandler(handler(true));
    c->setInvalidationHandler(handler(false));
    c->resume();
    // The first answer makes the connection count as connected.
    c->call(
        "version:", {},
        [weakSelf, weakConnection](const Value&) {
            dispatch::Queue::main()->async([weakSelf, weakConnection] {
                auto self = weakSelf.lock();
                auto which = weakConnection.lock();
                if (!self || !which || self->connection_ != which || self->answered_) return;
                self->answered_ = true;
                self->connected();
            });
        },
        [weakSelf, weakConnection](const ErrorPtr& error) {
            dispatch::Queue::main()->async([weakSelf, weakConnection, error] {
                auto self = weakSelf.lock();
                auto which = weakConnection.lock();
                if (self && which) self->dropped(which, error);
            });
        });
}

void TVSXPCConnection::dropped(const xpc::ConnectionPtr& which, const ErrorPtr& cause) {
    if (connection_ != which) return;  // an earlier connection, or told twice
    connection_.reset();
    // Dead for good: a call still queued on it must not open it again.
    which->invalidate();
    if (!answered_) {
        std::string why;
        xpc::PeerCredentials self;
        self.pid = ::getpid();
        self.uid = ::geteuid();
        self.gid = ::getegid();
        if (cause && cause->code == xpc::Connection::kInvalid)
            why = "the daemon's service " + std::string(channel::kServiceName) + " does not answer (" + cause->message + ")";
        else if (!xpc::isAdministrator(self))
            why = format("the daemon admits only administrators (root and the group \"%@\"), and this user (uid %u) is none",
                         xpc::administratorGroup(), unsigned(::geteuid()));
        else
            why = "the daemon closed the connection before it answered" +
                  (cause ? " (" + cause->message + ")" : std::string());
        logOutage("Cannot connect to the daemon: " + why);
    }
    disconnected();
}

void TVSXPCConnection::logOutage(const std::string& line) {
    if (outageLogged_) return;
    outageLogged_ = true;
    SystemLog("%@", line);
}

void TVSXPCConnection::markConnected() {
    isConnected_ = true;
    outageLogged_ = false;
    if (delegate_) delegate_->connected();
}

void TVSXPCConnection::connected() {
    markConnected();
    post();
}

void TVSXPCConnection::disconnected() {
    isConnected_ = false;
    abandonOutstanding();
    if (delegate_) delegate_->disconnected();
    if (!serviceRoute_ || reconnectPending_) return;
    reconnectPending_ = true;
    // The object is held until then.
    auto self = shared_from_this();
    dispatch::Queue::main()->after(kReconnectDelay, [self] {
        self->reconnectPending_ = false;
        self->connect();
    });
}

uint64_t TVSXPCConnection::beginRequest(ErrorHandler error) {
    uint64_t id = nextRequest_++;
    outstanding_[id] = std::move(error);
    return id;
}

bool TVSXPCConnection::finishRequest(uint64_t id) { return outstanding_.erase(id) > 0; }

void TVSXPCConnection::abandonOutstanding() {
    std::map<uint64_t, ErrorHandler> abandoned;
    abandoned.swap(outstanding_);
    for (auto& [id, error] : abandoned) {
        if (!error) continue;
        dispatch::Queue::main()->async([error = std::move(error)] {
            error(connectionError(kAbandoned, "the connection to the daemon dropped before the answer"));
        });
    }
}

// The older route.

std::string TVSXPCConnection::handlerKey(const Value& dictionary) {
    std::string key = dictionary["key"].stringValue();
    if (dictionary.has("pkey")) return format("%@-%@", key, dictionary["pkey"].stringValue());
    return key;
}

void TVSXPCConnection::connectLegacy() {
    if (connectionLegacy_) return;
    GDUnixSocketClientPtr client = GDUnixSocketClient::initWithSocketPath(channel::kLegacySocketPath);
    ErrorPtr error;
    if (client) {
        client->setDelegate(shared_from_this());
        connectionLegacy_ = client;
        if (client->connectWithAutoRead(true, &error)) {
            post();
            // Its answer makes the route count as connected.
            client->writeDictionary(Value(ValueDictionary{{"key", Value("version")}}));
            return;
        }
    }
    // The error's own description, once per outage.
    logOutage(error ? error->message : std::string("The socket path is inconsistent"));
    connectionLegacy_.reset();
}

void TVSXPCConnection::legacyDropped() {
    if (connectionLegacy_) connectionLegacy_->close();
    connectionLegacy_.reset();
    if (isConnected_) disconnected();
}

void TVSXPCConnection::sendIPCRequest(const Value& request, LegacyReply reply) {
    // A socket whose peer went away is let go: this request opens a new one.
    if (connectionLegacy_ && connectionLegacy_->state() != GDUnixSocket::kStateConnected) legacyDropped();
    if (!connectionLegacy_) connect();
    if (!connectionLegacy_) {
        if (reply) reply(Value());
        return;
    }
    legacyCompletionHandlers_[handlerKey(request)] = std::move(reply);
    if (connectionLegacy_->writeDictionary(request) < 0) legacyDropped();
}

void TVSXPCConnection::unixSocketReceivedDictionary(const Value& dictionary, GDUnixSocket* client) {
    std::weak_ptr<TVSXPCConnection> weakSelf = weak_from_this();
    dispatch::Queue::main()->async([weakSelf, dictionary, client] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (self->connectionLegacy_.get() == client && !self->isConnected_) self->markConnected();
        auto it = self->legacyCompletionHandlers_.find(handlerKey(dictionary));
        if (it != self->legacyCompletionHandlers_.end() && it->second) {
            LegacyReply block = it->second;  // it may send a request that replaces itself
            block(dictionary);
        }
    });
}

}  // namespace telvo::app
