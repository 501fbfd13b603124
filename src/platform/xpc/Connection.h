#pragma once
// A connection of the XPC stand-in, either end: made by a Listener for each caller, or by a
// client for a named service. Each connection has a serial queue of its own, on which its
// exported operations run in arrival order and its reply handlers and event handlers are called.
// A connection starts suspended: resume() starts it (a client connects then).
//
// Events: the interruption handler runs when a client's peer went away (the next call
// connects again); the invalidation handler runs once when the connection is dead for good
// (invalidate(), no such service, or an accepted connection whose caller went away).
// A call made with an error handler learns of its own failure: the handler runs instead of the
// reply handler when the call is refused, or when the connection drops or dies before the reply.
#include <sys/types.h>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include "platform/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/xpc/Interface.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo::xpc {

class Connection;
using ConnectionPtr = std::shared_ptr<Connection>;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    using ReplyHandler = std::function<void(const Value& reply)>;
    // Domain "NSCocoaErrorDomain": kInterrupted when the peer went away, kInvalid when the
    // connection is dead or the service missing, kReplyInvalid when the peer refused the call.
    using ErrorHandler = std::function<void(const ErrorPtr& error)>;
    static constexpr long kInterrupted = 4097;
    static constexpr long kInvalid = 4099;
    static constexpr long kReplyInvalid = 4101;

    // Client options: a privileged service lives in the system folder (kServiceFolder), any
    // other in the calling user's own folder (userServiceFolder).
    enum Options : unsigned { kNoOptions = 0, kPrivileged = 1 };

    // A client of the service of that name.
    static ConnectionPtr connectToService(const std::string& serviceName, unsigned options = kNoOptions);
    // The socket path of a system service, as the components name it.
    static std::string servicePath(const std::string& serviceName);
    // The socket path of a service in a folder.
    static std::string servicePath(const std::string& folder, const std::string& serviceName);

    ~Connection();

    const std::string& serviceName() const { return serviceName_; }
    dispatch::QueuePtr queue() const { return queue_; }
    bool isClient() const { return client_; }

    void setExportedInterface(InterfacePtr interface);
    void setInterruptionHandler(dispatch::Block handler);
    void setInvalidationHandler(dispatch::Block handler);

    void resume();
    void invalidate();
    bool isInvalidated() const { return invalidated_; }

    // Calls an operation of the peer's exported interface. With a reply handler the peer must
    // answer; the handler runs on this connection's queue. Calls made before resume() wait for
    // it. A call on a dead connection, or one the peer refused, never gets its reply.
    void call(const std::string& operation, const ValueArray& arguments, ReplyHandler reply = nullptr,
              ErrorHandler error = nullptr);

    // The peer process (as of its connect); invalid before the connection is made.
    PeerCredentials peerCredentials() const;

    // Made by Listener for an accepted descriptor.
    static ConnectionPtr accepted(const std::string& serviceName, int fd);

private:
    struct Pending {
        ReplyHandler reply;
        ErrorHandler error;
    };
    Connection(std::string serviceName, bool client, int fd);
    void failPending(long code, const std::string& why);
    void start();                 // on the queue
    bool connectNow();            // on the queue (clients)
    void readable();              // on the queue
    void handle(const Value& message);
    void peerGone();              // on the queue
    void finish(bool interrupted);
    bool send(const Value& message);
    void closeDescriptor();

    std::string serviceName_;
    bool client_;
    dispatch::QueuePtr queue_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    dispatch::SourcePtr source_;
    MessageDecoder decoder_;
    InterfacePtr exported_;
    dispatch::Block interruptionHandler_;
    dispatch::Block invalidationHandler_;
    std::string path_;  // clients: the socket path
    std::map<int64_t, Pending> pending_;
    int64_t nextID_ = 1;
    PeerCredentials peer_;
    bool resumed_ = false;
    std::atomic<bool> invalidated_{false};
    std::atomic<bool> invalidating_{false};  // invalidate() was called
    std::mutex writeMutex_;
};

}  // namespace telvo::xpc
