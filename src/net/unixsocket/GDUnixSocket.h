#pragma once
// One endpoint of a Unix-domain stream socket that carries framed dictionaries
// (GDUnixSocketFrame): writes a frame whole, reads in fragments and hands each completed
// dictionary to its delegate from a read loop on the global queue.
#include <sys/types.h>
#include <sys/un.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include "net/unixsocket/GDUnixSocketDelegate.h"
#include "net/unixsocket/GDUnixSocketError.h"
#include "net/unixsocket/GDUnixSocketFrame.h"

namespace telvo {

class GDUnixSocket;
using GDUnixSocketPtr = std::shared_ptr<GDUnixSocket>;

class GDUnixSocket : public std::enable_shared_from_this<GDUnixSocket> {
public:
    enum State : uint64_t { kStateNone = 0, kStateConnected = 1, kStateClosed = 2, kStateListening = 3 };
    static constexpr const char* kDummyPath = "(dummy)";
    static constexpr size_t kDefaultFragmentSize = 256;

    // Null unless the path is "(dummy)" or in standard form (no empty, "." or ".." component,
    // no trailing "/"), contains "/" and is shorter than 104 bytes.
    static GDUnixSocketPtr initWithSocketPath(const std::string& path, size_t fragmentSize = kDefaultFragmentSize);
    static bool isAcceptablePath(const std::string& path);

    virtual ~GDUnixSocket();

    int fd() const;
    void setFd(int fd);
    // A UUID made on first request; also the debug description.
    std::string uniqueID();
    const std::string& socketPath() const { return socketPath_; }
    uint64_t state() const;
    size_t fragmentSize() const { return fragmentSize_; }
    std::shared_ptr<GDUnixSocketDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<GDUnixSocketDelegate>& delegate);
    // The connecting process (accepted sockets: as pinned at the accept) or the listening one
    // (clients).
    xpc::PeerCredentials peerCredentials() const;
    // The server sets the credentials it pinned when it accepted this socket.
    void setPeerCredentials(const xpc::PeerCredentials& peer);

    // Bytes written (the whole frame or nothing), 0 for empty data, -1 on failure.
    ssize_t writeDictionary(const Value& dictionary, ErrorPtr* error = nullptr);
    virtual ssize_t writeData(const std::string& data, ErrorPtr* error = nullptr);
    // One read of at most fragmentSize bytes; none at end of stream or on failure.
    std::optional<std::string> readWithError(ErrorPtr* error = nullptr);
    void readWithCompletion(std::function<void(std::optional<std::string>, ErrorPtr)> completion);
    void writeData(const std::string& data, std::function<void(ssize_t, ErrorPtr)> completion);

    bool close();
    virtual bool closeWithError(ErrorPtr* error = nullptr);

    // Starts the read loop on the global queue (once); the socket closes itself at its end.
    void startReadLoop();

protected:
    GDUnixSocket(std::string path, size_t fragmentSize);
    void setState(uint64_t state);
    // Fills a host address for the socket path; false when it does not fit.
    bool fillAddress(sockaddr_un& address, socklen_t& length) const;

private:
    void readLoop(int readFd);

    mutable std::mutex mutex_;
    int fd_ = -1;
    std::string uniqueID_;
    std::string socketPath_;
    uint64_t state_ = kStateNone;
    size_t fragmentSize_;
    std::weak_ptr<GDUnixSocketDelegate> delegate_;
    std::mutex writeMutex_;
    bool reading_ = false;
    std::optional<xpc::PeerCredentials> peer_;
};

}  // namespace telvo
