#pragma once
// Test clients of the control service: a ServiceProtocol caller that waits for each reply, and
// an older-route client that sends a command dictionary and waits for the answer.
#include <mutex>
#include <optional>
#include <string>
#include "net/unixsocket/GDUnixSocketClient.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/xpc/Connection.h"

namespace telvo::testing {

class ServiceCaller {
public:
    explicit ServiceCaller(const std::string& service) : connection_(xpc::Connection::connectToService(service, xpc::Connection::kPrivileged)) {
        connection_->resume();
    }
    ~ServiceCaller() { connection_->invalidate(); }
    // The reply, or none when it did not come within `timeout` real seconds.
    std::optional<Value> call(const std::string& op, const ValueArray& args = {}, double timeout = 60) {
        auto state = std::make_shared<State>();
        connection_->call(op, args, [state](const Value& v) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->value = v;
        });
        // The main loop is served meanwhile: an in-process daemon answers some calls from there.
        dispatch::MainLoop::runUntil([&] {
            std::lock_guard<std::mutex> lock(state->mutex);
            return state->value.has_value();
        }, timeout);
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->value;
    }
    void send(const std::string& op, const ValueArray& args) { connection_->call(op, args); }
    const xpc::ConnectionPtr& connection() const { return connection_; }

private:
    struct State {
        std::mutex mutex;
        std::optional<Value> value;
    };
    xpc::ConnectionPtr connection_;
};

class LegacyCaller : public GDUnixSocketDelegate, public std::enable_shared_from_this<LegacyCaller> {
public:
    bool connect(const std::string& path, ErrorPtr* error = nullptr) {
        socket_ = GDUnixSocketClient::initWithSocketPath(path);
        if (!socket_) return false;
        socket_->setDelegate(shared_from_this());
        return socket_->connectWithAutoRead(true, error);
    }
    void close() {
        if (socket_) socket_->close();
    }
    void unixSocketReceivedDictionary(const Value& d, GDUnixSocket*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.push_back(d);
    }
    std::optional<Value> askDictionary(const Value& request, double timeout = 60) {
        size_t before;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            before = answers_.size();
        }
        if (socket_->writeDictionary(request) <= 0) return std::nullopt;
        bool answered = dispatch::MainLoop::runUntil([&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return answers_.size() > before;
        }, timeout);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!answered) return std::nullopt;
        return answers_[before];
    }
    std::optional<Value> ask(const std::string& key, ValueDictionary fields = {}, double timeout = 60) {
        fields["key"] = Value(key);
        return askDictionary(Value(std::move(fields)), timeout);
    }

private:
    GDUnixSocketClientPtr socket_;
    std::mutex mutex_;
    std::vector<Value> answers_;
};

}  // namespace telvo::testing
