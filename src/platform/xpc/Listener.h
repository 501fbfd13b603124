#pragma once
// The service end of the XPC stand-in: a Unix stream socket named after the service, in
// kServiceFolder for root and in the user's own service folder for anyone else (under the
// file-system root). When the launcher handed this process a listening socket of that name
// (it made the socket and started the process on the first connection), the listener adopts
// it instead. Each caller becomes a Connection that the delegate may take (set its exported
// interface and handlers, resume it) or refuse.
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "platform/Error.h"
#include "platform/dispatch/Source.h"
#include "platform/xpc/Connection.h"

namespace telvo::xpc {

class Listener;
using ListenerPtr = std::shared_ptr<Listener>;

class ListenerDelegate {
public:
    virtual ~ListenerDelegate() = default;
    // True takes the connection (the delegate resumes it); false closes it.
    virtual bool shouldAcceptNewConnection(Listener& listener, const ConnectionPtr& connection) = 0;
};

class Listener : public std::enable_shared_from_this<Listener> {
public:
    static ListenerPtr create(const std::string& serviceName);
    ~Listener();

    const std::string& serviceName() const { return serviceName_; }
    void setDelegate(const std::shared_ptr<ListenerDelegate>& delegate);

    // Adopts the inherited socket, or makes the folder when needed and starts listening;
    // answers the error when it cannot.
    ErrorPtr resume();
    // Stops listening and removes the socket (an adopted one stays: it is the launcher's);
    // accepted connections go on.
    void invalidate();
    bool adopted() const;

    // The connections taken and still alive.
    std::vector<ConnectionPtr> connections() const;

private:
    explicit Listener(std::string serviceName);
    void acceptPending();

    void startSource(int fd, bool adopted);

    std::string serviceName_;
    std::string path_;
    bool adopted_ = false;
    dispatch::QueuePtr queue_;
    dispatch::SourcePtr source_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    std::weak_ptr<ListenerDelegate> delegate_;
    std::vector<ConnectionPtr> connections_;
};

}  // namespace telvo::xpc
