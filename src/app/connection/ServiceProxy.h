#pragma once
// The daemon's ServiceProtocol as the panels call it, handed to them by TVSXPCAction. A proxy
// made while there is no connection is no proxy: every call only runs its error handler.
// Every call takes an error handler; exactly one of reply and error handler runs, on the main
// queue: the reply when the daemon answers, the error handler when there is no connection,
// the connection drops first, the daemon refuses the call, or the time-out (when given)
// passes first. A reply that comes after that is dropped. Replies of "clients:" and
// "objectForKey:reply:" are kept only when made of dictionaries, arrays, strings and numbers
// (booleans count); anything else reads as no value. Main queue only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/values/Value.h"
#include "platform/xpc/Connection.h"

namespace telvo::app {

class TVSXPCConnection;

class ServiceProxy {
public:
    using Reply = std::function<void(const Value& reply)>;
    using ErrorHandler = std::function<void(const ErrorPtr& error)>;

    ServiceProxy(std::shared_ptr<TVSXPCConnection> owner, xpc::ConnectionPtr connection);

    // False for no proxy (no current connection).
    bool isValid() const { return connection_ != nullptr; }

    // One operation of ServiceProtocol; `reply` null for the operations that answer nothing
    // (their error handler runs only when the call could not be sent). `timeout` 0: none.
    void call(const std::string& operation, const ValueArray& arguments, Reply reply, ErrorHandler error,
              double timeout = 0);

    void version(Reply reply, ErrorHandler error, double timeout = 0) { call("version:", {}, std::move(reply), std::move(error), timeout); }
    void clients(Reply reply, ErrorHandler error, double timeout = 0) { call("clients:", {}, std::move(reply), std::move(error), timeout); }
    void objectForKey(const std::string& key, Reply reply, ErrorHandler error, double timeout = 0) {
        call("objectForKey:reply:", {Value(key)}, std::move(reply), std::move(error), timeout);
    }
    void setObjectForKey(const Value& value, const std::string& key, ErrorHandler error) {
        call("setObject:forKey:", {value, Value(key)}, nullptr, std::move(error));
    }

    // The classes a reply of `operation` may carry: true when `reply` passes (or the
    // operation's replies are not restricted).
    static bool replyAllowed(const std::string& operation, const Value& reply);

    // A test seam: while recording is on, every operation handed to a connection is kept with
    // its arguments and when it was sent (seconds of the steady clock). Turning it on or off
    // forgets what was kept.
    struct SentOperation {
        std::string operation;
        ValueArray arguments;
        double time = 0;
    };
    static void setRecordingForTesting(bool on);
    static std::vector<SentOperation> sentForTesting();

private:
    static void record(const std::string& operation, const ValueArray& arguments);

    std::shared_ptr<TVSXPCConnection> owner_;
    xpc::ConnectionPtr connection_;
};

}  // namespace telvo::app
