// Calls through the shared connection, each answered once on the main queue.
#include "app/connection/ServiceProxy.h"

#include <chrono>
#include <mutex>

#include "app/connection/TVSXPCConnection.h"
#include "platform/dispatch/Queue.h"

namespace telvo::app {

namespace {

std::mutex gRecordMutex;
bool gRecording = false;
std::vector<ServiceProxy::SentOperation> gSent;

// Dictionaries, arrays, strings and numbers, all the way down.
bool plainClasses(const Value& v) {
    switch (v.type()) {
        case Value::Type::Boolean:
        case Value::Type::Integer:
        case Value::Type::Double:
        case Value::Type::String:
            return true;
        case Value::Type::Array:
            for (const Value& item : v.array())
                if (!plainClasses(item)) return false;
            return true;
        case Value::Type::Dictionary:
            for (const auto& [key, item] : v.dictionary())
                if (!plainClasses(item)) return false;
            return true;
        default:
            return false;
    }
}

}  // namespace

ServiceProxy::ServiceProxy(std::shared_ptr<TVSXPCConnection> owner, xpc::ConnectionPtr connection)
    : owner_(std::move(owner)), connection_(std::move(connection)) {}

bool ServiceProxy::replyAllowed(const std::string& operation, const Value& reply) {
    if (operation == "clients:" || operation == "objectForKey:reply:") return reply.isNull() || plainClasses(reply);
    return true;
}

void ServiceProxy::setRecordingForTesting(bool on) {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    gRecording = on;
    gSent.clear();
}

std::vector<ServiceProxy::SentOperation> ServiceProxy::sentForTesting() {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    return gSent;
}

void ServiceProxy::record(const std::string& operation, const ValueArray& arguments) {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    if (!gRecording) return;
    double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    gSent.push_back({operation, arguments, now});
}

void ServiceProxy::call(const std::string& operation, const ValueArray& arguments, Reply reply, ErrorHandler error,
                        double timeout) {
    auto main = dispatch::Queue::main();
    if (!connection_ || !owner_) {
        if (error)
            main->async([error] { error(makeError("TVSXPCConnection", TVSXPCConnection::kNoConnection, "no connection to the daemon")); });
        return;
    }
    record(operation, arguments);
    std::weak_ptr<TVSXPCConnection> weakOwner = owner_;
    if (!reply) {
        connection_->call(operation, arguments, nullptr, [main, error](const ErrorPtr& e) {
            if (error) main->async([error, e] { error(e); });
        });
        return;
    }
    uint64_t id = owner_->beginRequest(error);
    connection_->call(
        operation, arguments,
        [main, weakOwner, id, reply, operation](const Value& value) {
            Value kept = replyAllowed(operation, value) ? value : Value();
            main->async([weakOwner, id, reply, kept] {
                auto owner = weakOwner.lock();
                if (!owner) return;
                if (owner->finishRequest(id))
                    reply(kept);
                else
                    owner->noteDroppedReply();
            });
        },
        [main, weakOwner, id, error](const ErrorPtr& e) {
            main->async([weakOwner, id, error, e] {
                auto owner = weakOwner.lock();
                if (owner && owner->finishRequest(id) && error) error(e);
            });
        });
    if (timeout > 0) {
        main->after(timeout, [weakOwner, id, error, operation] {
            auto owner = weakOwner.lock();
            if (owner && owner->finishRequest(id) && error)
                error(makeError("TVSXPCConnection", TVSXPCConnection::kTimedOut, operation + " was not answered in time"));
        });
    }
}

}  // namespace telvo::app
