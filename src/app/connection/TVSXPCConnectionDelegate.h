#pragma once
// What the application's connection to the daemon tells its delegate, on the main queue.
namespace telvo::app {

class TVSXPCConnectionDelegate {
public:
    virtual ~TVSXPCConnectionDelegate() = default;
    // The daemon answered the connection's first request.
    virtual void connected() = 0;
    // The connection dropped, or could not be made; another try follows.
    virtual void disconnected() = 0;
};

}  // namespace telvo::app
