#pragma once
// A listening Unix-domain dictionary socket: accepts on a serial queue of its own, asks the
// delegate whether to take each caller (by its peer credentials), and makes one GDUnixSocket
// per accepted connection, reading on its own loop and reporting to the server's delegate.
// The socket file is made with mode 0660; the folder that holds it decides who may reach it.
#include <memory>
#include <mutex>
#include <vector>
#include "net/unixsocket/GDUnixSocket.h"
#include "platform/dispatch/Source.h"

namespace telvo {

class GDUnixSocketServer;
using GDUnixSocketServerPtr = std::shared_ptr<GDUnixSocketServer>;

class GDUnixSocketServer : public GDUnixSocket {
public:
    static GDUnixSocketServerPtr initWithSocketPath(const std::string& path,
                                                    size_t fragmentSize = kDefaultFragmentSize);
    ~GDUnixSocketServer() override;

    bool listenWithError(ErrorPtr* error = nullptr) { return listenWithMaxConnections(5, error); }
    bool listenWithMaxConnections(int backlog, ErrorPtr* error = nullptr);
    bool closeWithError(ErrorPtr* error = nullptr) override;
    void closeSilently();

    // Replies go out on the accepted client's own socket; these exist and do nothing.
    bool sendDataToClientWithID(const std::string&, const std::string&, ErrorPtr* = nullptr) { return false; }
    bool removeAndCloseClient(const std::string&) { return false; }
    bool clientExists(const std::string&) const { return true; }
    ssize_t writeData(const std::string&, ErrorPtr* = nullptr) override { return 0; }

    std::vector<GDUnixSocketPtr> connectedClients() const;

private:
    GDUnixSocketServer(std::string path, size_t fragmentSize);
    bool closeServer(bool silently, ErrorPtr* error);
    void acceptPending();

    dispatch::QueuePtr queue_;
    dispatch::SourcePtr source_;
    std::mutex closeLock_;
    mutable std::mutex clientsMutex_;
    std::vector<GDUnixSocketPtr> connectedClients_;
    bool closing_ = false;
    bool bound_ = false;
};

}  // namespace telvo
