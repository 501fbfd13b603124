#pragma once
// The control application's one connection to the daemon. On the service route it holds the
// connection to the daemon's privileged service, through which the panels call
// ServiceProtocol (see ServiceProxy and TVSXPCAction); on the older route it speaks framed
// dictionaries over the daemon's control socket. After every connect it posts, in this order,
// "SettingsUpdated", "PasscodeUpdated", "UpnpUpdated" and "SocketUpdated" on the default
// notification centre, so that every panel re-reads its state.
//
// It counts as connected only once the daemon has answered the "version:" request that
// connect() sends; a drop (or a connect that fails or is refused) tells the delegate
// `disconnected`, abandons the outstanding requests (their error handlers run, late replies
// are dropped) and schedules one reconnect 2 s later. Everything but the platform's handlers
// runs on the main queue; replies and error handlers are handed to the main queue too.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "net/unixsocket/GDUnixSocketClient.h"
#include "platform/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"
#include "platform/xpc/Connection.h"

namespace telvo::app {

class TVSXPCConnectionDelegate;

class TVSXPCConnection : public GDUnixSocketDelegate, public std::enable_shared_from_this<TVSXPCConnection> {
public:
    using LegacyReply = std::function<void(const Value& dictionary)>;  // null: no dictionary
    using ErrorHandler = std::function<void(const ErrorPtr& error)>;

    static constexpr double kReconnectDelay = 2;
    // The in-process notifications posted after every connect, in posting order.
    static constexpr const char* kUpdateNotifications[] = {"SettingsUpdated", "PasscodeUpdated", "UpnpUpdated",
                                                           "SocketUpdated"};
    // Error codes (domain "TVSXPCConnection") of requests that never reached an answer.
    static constexpr long kNoConnection = 1;
    static constexpr long kAbandoned = 2;  // the connection dropped while it was outstanding
    static constexpr long kTimedOut = 3;

    static TVSXPCConnection& sharedXPCConnection();
    static std::shared_ptr<TVSXPCConnection> sharedXPCConnectionPtr();
    // Drops the shared instance (its connection invalidated, its socket closed).
    static void resetForTesting();

    ~TVSXPCConnection() override;

    // Set before the first connect; not owned. Main queue.
    void setDelegate(TVSXPCConnectionDelegate* delegate) { delegate_ = delegate; }
    TVSXPCConnectionDelegate* delegate() const { return delegate_; }
    // The private serial queue the drop handlers pass through.
    const dispatch::QueuePtr& queue() const { return queue_; }
    // True on the service route (the 10.8 test passes), false on the older route; fixed when
    // the object is made.
    bool usesServiceRoute() const { return serviceRoute_; }

    // Main queue only.
    xpc::ConnectionPtr connection() const { return connection_; }
    GDUnixSocketClientPtr connectionLegacy() const { return connectionLegacy_; }
    bool isConnected() const { return isConnected_; }
    bool reconnectPending() const { return reconnectPending_; }

    // Opens the connection (service route) or the socket (older route); does nothing while one
    // is open.
    void connect();
    // Marks the object connected, tells the delegate, posts the four notifications.
    void connected();
    // Marks the object not connected, abandons outstanding requests, tells the delegate and
    // (service route) schedules one connect 2 s later.
    void disconnected();

    // Older route: sends one request dictionary; `reply` receives the answer whose handler
    // key matches (see handlerKey), on the main queue, or no dictionary at once when there is
    // no socket. A later request under the same key replaces the block of the earlier one.
    void sendIPCRequest(const Value& request, LegacyReply reply);
    // "key", or "<key>-<pkey>" when the dictionary has a "pkey".
    static std::string handlerKey(const Value& dictionary);
    void unixSocketReceivedDictionary(const Value& dictionary, GDUnixSocket* client) override;

    // The proxy's bookkeeping of requests waiting for an answer (main queue): begin hands out
    // an id, finish answers whether it was still outstanding (and forgets it).
    uint64_t beginRequest(ErrorHandler error);
    bool finishRequest(uint64_t id);
    size_t outstandingRequests() const { return outstanding_.size(); }
    // A reply that came after its request was given up or abandoned, and was dropped.
    void noteDroppedReply() { ++droppedReplies_; }
    size_t droppedReplies() const { return droppedReplies_; }

private:
    TVSXPCConnection();
    void connectService();
    void connectLegacy();
    void dropped(const xpc::ConnectionPtr& which, const ErrorPtr& cause);
    void legacyDropped();
    void markConnected();
    void abandonOutstanding();
    void logOutage(const std::string& line);
    static void post();

    dispatch::QueuePtr queue_;
    bool serviceRoute_;
    TVSXPCConnectionDelegate* delegate_ = nullptr;
    xpc::ConnectionPtr connection_;
    bool answered_ = false;  // the current connection has had its first reply
    GDUnixSocketClientPtr connectionLegacy_;
    std::map<std::string, LegacyReply> legacyCompletionHandlers_;
    bool isConnected_ = false;
    bool reconnectPending_ = false;
    bool outageLogged_ = false;
    bool closed_ = false;
    uint64_t nextRequest_ = 1;
    std::map<uint64_t, ErrorHandler> outstanding_;
    size_t droppedReplies_ = 0;
};

}  // namespace telvo::app
