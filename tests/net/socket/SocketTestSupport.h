#pragma once
// Helpers for the socket tests: a test TLS identity made with the openssl tool, an echo server
// delegate that records every callback, raw TCP peers, `openssl s_client` peers and the count
// of open descriptors.
#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket/GCDAsyncSocket.h"

namespace telvo::sockettest {

// Key and self-signed certificate (PEM), made once per test program; empty when the openssl
// tool failed (the caller fails the test).
const std::string& testIdentityPEM();
// Server-side TLS settings with the test identity and the TLS 1.0 minimum.
Value serverTLSSettings();
inline Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
// Never destroyed: a socket's queue may still read it while the process exits.
inline const Bytes& terminator() {
    static const Bytes* t = new Bytes(bytes("</tvx>"));
    return *t;
}

int openDescriptorCount();
// The count once it has held still for 100 ms (at most 3 s): descriptors of earlier tests in
// this process close in cancel handlers a moment after the test that opened them.
int settledDescriptorCount();
// Waits (at most 2 s) until no more than `count` descriptors are open; the count then.
int descriptorCountAfterClosing(int count);

// The local port of a TCP socket, 0 if it has none.
uint16_t localPort(int fd);
// Waits (at most `seconds`) until no descriptor of this process is a TCP socket whose peer has
// port `port`: the server's end of a loopback connection closes a while after the client's.
bool waitUntilNoSocketHasPeerPort(uint16_t port, double seconds = 15);

// Records everything the sockets report; on accept it starts TLS (or reads at once), reads
// messages up to "</tvx>" and echoes each one.
class EchoServer : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<EchoServer> {
public:
    struct Disconnect {
        bool hadSocket = false;
        ErrorPtr error;
    };
    struct Options {
        bool tls = true;
        Value tlsSettings;
        double firstReadTimeout = 120;
        double readTimeout = 600;
        double writeTimeout = 120;
        size_t maxLength = 0;
        bool echo = true;
        bool readAfterAccept = true;  // plain mode: queue the first read on accept
    };

    explicit EchoServer(Options options);
    static std::shared_ptr<EchoServer> make(Options options) { return std::make_shared<EchoServer>(std::move(options)); }

    // Listens on port 0 with both families (or `interface`); answers the port, 0 on failure.
    uint16_t listen(const std::string& interface = "", ErrorPtr* error = nullptr);
    // Waits (real time, bounded) until `predicate` holds under the lock.
    bool waitFor(const std::function<bool()>& predicate, double seconds = 15);

    dispatch::QueuePtr queue;
    GCDAsyncSocketPtr listener;
    Options options;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<GCDAsyncSocketPtr> connections;
    std::vector<std::string> reads;
    std::vector<Disconnect> disconnects;
    int accepted = 0;
    int secured = 0;
    int writesDone = 0;
    int readStreamsClosed = 0;
    size_t partialReadBytes = 0;
    size_t partialWriteBytes = 0;

    void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock, const GCDAsyncSocketPtr& newSocket) override;
    void socketDidSecure(const GCDAsyncSocketPtr& sock) override;
    void socketDidReadData(const GCDAsyncSocketPtr& sock, const Bytes& data, long tag) override;
    void socketDidReadPartialDataOfLength(const GCDAsyncSocketPtr& sock, size_t length, long tag) override;
    void socketDidWriteDataWithTag(const GCDAsyncSocketPtr& sock, long tag) override;
    void socketDidWritePartialDataOfLength(const GCDAsyncSocketPtr& sock, size_t length, long tag) override;
    void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const ErrorPtr& error) override;
    void socketDidCloseReadStream(const GCDAsyncSocketPtr& sock) override;

private:
    void notify();
};

// A blocking TCP client on loopback.
class RawClient {
public:
    // family AF_INET (127.0.0.1) or AF_INET6 (::1); isOpen() false when connect failed.
    RawClient(int family, uint16_t port);
    ~RawClient();
    bool isOpen() const { return fd_ != -1; }
    bool send(const std::string& data);
    // Reads until `needle` is in what was read, the peer closes or `seconds` pass.
    std::string readUntil(const std::string& needle, double seconds = 10);
    // True when the peer closed (read returned 0 or the connection was reset) within `seconds`.
    bool waitForClose(double seconds = 10);
    void setReceiveBuffer(int size);
    void close();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// An `openssl s_client` process with pipes to its standard input and output.
class OpenSSLClient {
public:
    explicit OpenSSLClient(const std::vector<std::string>& arguments);
    ~OpenSSLClient();
    bool started() const { return pid_ > 0; }
    bool send(const std::string& data);
    // Reads its standard output until `needle` appeared (what was read so far is kept).
    bool readUntil(const std::string& needle, double seconds = 15);
    // Reads up to `count` bytes of output that are ready within `seconds`.
    size_t readSome(size_t count, double seconds);
    const std::string& output() const { return output_; }
    std::string errorOutput() const;
    // Closes its input and waits for it to exit; answers its exit status (-1 if killed).
    int finish(double seconds = 10);

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string errPath_;
    std::string output_;
};

}  // namespace telvo::sockettest
