#pragma once
// The queue-driven TCP socket: a listener on IPv4 and IPv6 (or a Unix-domain path), or one
// connection, accepted or made by connecting, that does all of its work on a serial queue of
// its own ("GCDAsyncSocket") and reports to a delegate through blocks on a queue the owner
// chooses. Reads up to a terminator, of a fixed length or of what is there, writes, each with
// a time limit and a tag, and TLS on either side (OpenSSL).
//
// Every operation may be called from any queue: queries run synchronously on the socket
// queue, commands hop onto it (synchronously or asynchronously as each says). Reads, writes
// and startTLS keep the order in which they were called.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "net/socket/GCDAsyncReadPacket.h"
#include "net/socket/GCDAsyncSocketDelegate.h"
#include "net/socket/GCDAsyncSocketError.h"
#include "net/socket/GCDAsyncSocketPreBuffer.h"
#include "net/socket/GCDAsyncSpecialPacket.h"
#include "net/socket/GCDAsyncWritePacket.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/values/Value.h"

namespace telvo {

class TlsEngine;

// The label of every socket queue the class creates.
inline constexpr const char* GCDAsyncSocketQueueName = "GCDAsyncSocket";
inline constexpr const char* GCDAsyncSocketThreadName = "GCDAsyncSocket-CFStream";

// Keys of the startTLS settings dictionary.
inline constexpr const char* kCFStreamSSLIsServer = "kCFStreamSSLIsServer";
inline constexpr const char* kCFStreamSSLPeerName = "kCFStreamSSLPeerName";
// An array: the identity first, then further certificates of the chain. The identity is one
// of: data holding PEM text of a private key and its certificate (further PEM certificates
// after them join the chain); a dictionary {"key": PEM or DER data, "certificate": PEM or DER
// data}; a dictionary {"pkcs12": DER data, "passphrase": text}. Further elements are
// certificates (PEM or DER data).
inline constexpr const char* kCFStreamSSLCertificates = "kCFStreamSSLCertificates";
inline constexpr const char* kCFStreamSSLAllowsAnyRoot = "kCFStreamSSLAllowsAnyRoot";
inline constexpr const char* kCFStreamSSLAllowsExpiredRoots = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr const char* kCFStreamSSLValidatesCertificateChain = "kCFStreamSSLValidatesCertificateChain";
inline constexpr const char* kCFStreamSSLAllowsExpiredCertificates = "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr const char* kCFStreamSSLLevel = "kCFStreamSSLLevel";
inline constexpr const char* GCDAsyncSocketManuallyEvaluateTrust = "GCDAsyncSocketManuallyEvaluateTrust";
inline constexpr const char* GCDAsyncSocketSSLPeerID = "GCDAsyncSocketSSLPeerID";
// Protocol values: 0 none, 2 SSL 3.0, 4 TLS 1.0, 7 TLS 1.1, 8 TLS 1.2, 10 TLS 1.3.
inline constexpr const char* GCDAsyncSocketSSLProtocolVersionMin = "GCDAsyncSocketSSLProtocolVersionMin";
inline constexpr const char* GCDAsyncSocketSSLProtocolVersionMax = "GCDAsyncSocketSSLProtocolVersionMax";
inline constexpr const char* GCDAsyncSocketSSLSessionOptionFalseStart = "GCDAsyncSocketSSLSessionOptionFalseStart";
inline constexpr const char* GCDAsyncSocketSSLSessionOptionSendOneByteRecord =
    "GCDAsyncSocketSSLSessionOptionSendOneByteRecord";
inline constexpr const char* GCDAsyncSocketSSLCipherSuites = "GCDAsyncSocketSSLCipherSuites";
inline constexpr const char* GCDAsyncSocketSSLDiffieHellmanParameters = "GCDAsyncSocketSSLDiffieHellmanParameters";
// Seconds the TLS handshake may take from its start (number; default 120; negative: no
// limit). When it runs out the socket closes with the read time-out error (code 4).
inline constexpr const char* GCDAsyncSocketSSLHandshakeTimeout = "GCDAsyncSocketSSLHandshakeTimeout";
inline constexpr double GCDAsyncSocketDefaultHandshakeTimeout = 120.0;

// Protocol values of the settings above.
enum GCDAsyncSocketSSLProtocol : int {
    kSSLProtocolUnknown = 0,
    kSSLProtocol3 = 2,
    kTLSProtocol1 = 4,
    kTLSProtocol11 = 7,
    kTLSProtocol12 = 8,
    kTLSProtocol13 = 10,
};

class GCDAsyncSocket : public std::enable_shared_from_this<GCDAsyncSocket> {
public:
    using DelegatePtr = std::weak_ptr<GCDAsyncSocketDelegate>;

    // Creation. The delegate is held weakly (the socket never keeps it alive); the delegate
    // queue strongly. A socket queue given must be serial (a concurrent queue stops the
    // program); without one a new serial "GCDAsyncSocket" queue is made.
    static GCDAsyncSocketPtr initWithDelegate(DelegatePtr delegate, dispatch::QueuePtr delegateQueue,
                                              dispatch::QueuePtr socketQueue = nullptr);
    static GCDAsyncSocketPtr initWithSocketQueue(dispatch::QueuePtr socketQueue);
    static GCDAsyncSocketPtr init();
    // Closes the socket; a started socket reports socketDidDisconnect with a null socket.
    ~GCDAsyncSocket();
    GCDAsyncSocket(const GCDAsyncSocket&) = delete;
    GCDAsyncSocket& operator=(const GCDAsyncSocket&) = delete;

    // Delegate and delegate queue. The plain setters are asynchronous, the synchronously...
    // ones wait; a setDelegate(d, q) takes effect before any later command on the socket.
    std::shared_ptr<GCDAsyncSocketDelegate> delegate() const;
    dispatch::QueuePtr delegateQueue() const;
    void getDelegate(std::shared_ptr<GCDAsyncSocketDelegate>* delegate, dispatch::QueuePtr* delegateQueue) const;
    void setDelegate(DelegatePtr delegate);
    void setDelegateQueue(dispatch::QueuePtr delegateQueue);
    void setDelegate(DelegatePtr delegate, dispatch::QueuePtr delegateQueue);
    void synchronouslySetDelegate(DelegatePtr delegate);
    void synchronouslySetDelegateQueue(dispatch::QueuePtr delegateQueue);
    void synchronouslySetDelegate(DelegatePtr delegate, dispatch::QueuePtr delegateQueue);

    // Configuration (takes effect at the next listen or connect). alternateAddressDelay: seconds
    // between the attempts on the two families when connecting (0.3 at creation).
    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool flag);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool flag);
    bool isIPv4PreferredOverIPv6() const;
    void setIPv4PreferredOverIPv6(bool flag);
    double alternateAddressDelay() const;
    void setAlternateAddressDelay(double delay);
    std::any userData() const;
    void setUserData(std::any data);

    // Listening. `interface`: "" for every interface, "localhost"/"loopback", an interface
    // name or address text, optionally followed by ":port" (used when `port` is 0).
    // On false, `error` (when given) receives the reason; nothing stays open.
    bool acceptOnPort(uint16_t port, ErrorPtr* error = nullptr);
    bool acceptOnInterface(const std::string& interface, uint16_t port, ErrorPtr* error = nullptr);
    // Listening on a Unix-domain path, a "file://" URL ("file:///tmp/socket"). A socket left
    // at the path is removed first; anything else there is left alone and the call fails.
    // The path is removed again when the listener closes.
    bool acceptOnUrl(const std::string& url, ErrorPtr* error = nullptr);

    // Connecting. `host` is a name (looked up on a global queue) or an address text; `timeout`
    // is in seconds, negative for none (code 3 when it runs out); `interface` is a local
    // interface description as for listening ("" for none) to bind to first. Every usable
    // family gets a descriptor: the preferred one is tried at once, the other
    // alternateAddressDelay() seconds later, and the first to connect wins. On true the
    // delegate hears socketDidConnectToHost, or socketDidDisconnect with the error; on false
    // nothing was started and `error` (when given) says why. Reads and writes may be queued
    // at once: they start when the connection is made.
    bool connectToHost(const std::string& host, uint16_t port, ErrorPtr* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, double timeout, ErrorPtr* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, const std::string& interface, double timeout,
                       ErrorPtr* error = nullptr);
    // `address` is a raw sockaddr_in or sockaddr_in6.
    bool connectToAddress(const Bytes& address, ErrorPtr* error = nullptr);
    bool connectToAddress(const Bytes& address, double timeout, ErrorPtr* error = nullptr);
    bool connectToAddress(const Bytes& address, const std::string& interface, double timeout,
                          ErrorPtr* error = nullptr);
    // A Unix-domain peer named by a "file://" URL; reported with socketDidConnectToUrl.
    bool connectToUrl(const std::string& url, double timeout, ErrorPtr* error = nullptr);

    // Closing. disconnect() closes at once (socketDidDisconnect with no error); the others
    // close once the named queues have drained, refusing new reads, writes and TLS starts.
    void disconnect();
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // While more than `bytes` handed to writes are not yet written, no further read starts:
    // a peer that does not take what it is sent is not read either, and what it can make the
    // socket hold stays bounded. 0 (the default) sets no bound.
    void setMaximumWriteBacklog(size_t bytes);

    // State and addresses (read from the descriptor each time; "" and 0 when unknown).
    bool isDisconnected() const;
    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;
    // True when the peer has ended its side of the connection (or it broke), even though
    // nothing has been read since: for owners that stop reading for a while and want to
    // know whether anyone still waits for an answer.
    bool peerHasClosed() const;
    std::string connectedHost() const;
    uint16_t connectedPort() const;
    std::string localHost() const;
    uint16_t localPort() const;
    std::string connectedUrl() const;
    Bytes connectedAddress() const;
    Bytes localAddress() const;
    // One family only; meant for the socket queue (they work anywhere).
    std::string connectedHost4() const;
    std::string connectedHost6() const;
    uint16_t connectedPort4() const;
    uint16_t connectedPort6() const;
    std::string localHost4() const;
    std::string localHost6() const;
    uint16_t localPort4() const;
    uint16_t localPort6() const;

    // Reads (queued; a negative timeout means no limit; a request that fails validation is
    // dropped without a callback). Buffers given by the caller grow as bytes arrive.
    void readDataWithTimeout(double timeout, long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset, long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset, size_t maxLength, long tag);
    void readDataToLength(size_t length, double timeout, long tag);
    void readDataToLength(size_t length, double timeout, std::shared_ptr<Bytes> buffer, size_t offset, long tag);
    void readDataToData(const Bytes& data, double timeout, long tag);
    void readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer, size_t offset, long tag);
    // Reaching `maxLength` bytes without the terminator closes the socket with code 6.
    void readDataToData(const Bytes& data, double timeout, size_t maxLength, long tag);
    void readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                        size_t maxLength, long tag);

    // Writes the whole of `data` (not copied; empty data is ignored).
    void writeData(Bytes data, double timeout, long tag);
    void writeData(std::shared_ptr<const Bytes> data, double timeout, long tag);

    // Progress of the current read or write: done / total (1.0 for a read without a fixed
    // length), NaN when there is none. Outputs may be null.
    float progressOfReadReturningTag(long* tag, size_t* done, size_t* total) const;
    float progressOfWriteReturningTag(long* tag, size_t* done, size_t* total) const;

    // TLS: queues the upgrade behind the reads and writes already queued (settings: a
    // dictionary with the keys above, or null). A second call on a connection is ignored.
    void startTLS(const Value& tlsSettings = Value());

    // Runs `block` synchronously on the socket queue.
    void performBlock(const dispatch::Block& block);
    // Descriptors; -1 when called off the socket queue.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);
    void markSocketQueueTargetQueue(const dispatch::QueuePtr&) {}
    void unmarkSocketQueueTargetQueue(const dispatch::QueuePtr&) {}
    bool isOnCorrectQueue() const;
    const dispatch::QueuePtr& socketQueue() const { return socketQueue_; }

    // Address utilities. Wrapped addresses are raw sockaddr bytes.
    static std::string hostFromSockaddr4(const sockaddr_in* address);
    static std::string hostFromSockaddr6(const sockaddr_in6* address);
    static uint16_t portFromSockaddr4(const sockaddr_in* address);
    static uint16_t portFromSockaddr6(const sockaddr_in6* address);
    // "file://" URL of the path.
    static std::string urlFromSockaddrUN(const sockaddr_un* address);
    static bool getHost(std::string* host, uint16_t* port, int* family, const Bytes& address);
    static bool getHost(std::string* host, uint16_t* port, const Bytes& address);
    static std::string hostFromAddress(const Bytes& address);
    static uint16_t portFromAddress(const Bytes& address);
    static bool isIPv4Address(const Bytes& address);
    static bool isIPv6Address(const Bytes& address);
    // "localhost" and "loopback" give 127.0.0.1 and ::1 without a lookup; otherwise getaddrinfo.
    static std::vector<Bytes> lookupHost(const std::string& host, uint16_t port, ErrorPtr* error = nullptr);
    static Bytes CRLFData() { return {0x0D, 0x0A}; }
    static Bytes CRData() { return {0x0D}; }
    static Bytes LFData() { return {0x0A}; }
    static Bytes ZeroData() { return {0x00}; }
    // Resolves an interface description as acceptOnInterface does (outputs may be null).
    static void getInterfaceAddress(Bytes* address4, Bytes* address6, const std::string& description, uint16_t port);
    // The Unix-domain address of a "file://" URL; empty when the URL names no usable path.
    static Bytes getInterfaceAddressFromUrl(const std::string& url);

private:
    GCDAsyncSocket(DelegatePtr delegate, dispatch::QueuePtr delegateQueue, dispatch::QueuePtr socketQueue);

    enum : uint32_t {
        kSocketStarted = 1u << 0,
        kConnected = 1u << 1,
        kForbidReadsWrites = 1u << 2,
        kReadsPaused = 1u << 3,
        kWritesPaused = 1u << 4,
        kDisconnectAfterReads = 1u << 5,
        kDisconnectAfterWrites = 1u << 6,
        kSocketCanAcceptBytes = 1u << 7,
        kReadSourceSuspended = 1u << 8,
        kWriteSourceSuspended = 1u << 9,
        kQueuedTLS = 1u << 10,
        kStartingReadTLS = 1u << 11,
        kStartingWriteTLS = 1u << 12,
        kSocketSecure = 1u << 13,
        kSocketHasReadEOF = 1u << 14,
        kReadStreamClosed = 1u << 15,
        kDealloc = 1u << 16,
    };
    enum : uint16_t {
        kIPv4Disabled = 1 << 0,
        kIPv6Disabled = 1 << 1,
        kPreferIPv6 = 1 << 2,
        kAllowHalfDuplexConnection = 1 << 3,
    };

    using ReadEntry = std::variant<std::shared_ptr<GCDAsyncReadPacket>, std::shared_ptr<GCDAsyncSpecialPacket>>;
    using WriteEntry = std::variant<std::shared_ptr<GCDAsyncWritePacket>, std::shared_ptr<GCDAsyncSpecialPacket>>;

    // Queue helpers.
    void runSync(const dispatch::Block& block) const;
    void runAsync(dispatch::Block block);
    // Submits `call` to the delegate queue when there is a delegate and a queue (and, with
    // `responds`, when the delegate answers true to it).
    void notifyDelegate(std::function<void(GCDAsyncSocketDelegate&)> call,
                        bool (GCDAsyncSocketDelegate::*responds)() const = nullptr);
    void setDelegateImpl(DelegatePtr delegate, bool setDelegate, dispatch::QueuePtr queue, bool setQueue, bool sync);
    void setConfigBit(uint16_t bit, bool set);

    // Core (GCDAsyncSocket.cpp).
    bool acceptImpl(const std::string& interface, uint16_t port, ErrorPtr* error);
    int createListeningSocket(int family, const Bytes& address, ErrorPtr* error);
    void startAcceptSource(int fd, dispatch::SourcePtr& source);
    // Accepts one connection: true when one was taken (or refused), false when there is
    // none (or accepting has to pause, see pauseAccepting).
    bool doAccept(int listenFD, const dispatch::SourcePtr& source);
    void pauseAccepting(const dispatch::SourcePtr& source, int error);
    bool acceptOnUrlImpl(const std::string& url, ErrorPtr* error);

    // Connecting (GCDAsyncSocketConnect.cpp).
    // The checks that start listening and connecting: a delegate and its queue, and a
    // socket not yet started; `action` ("accept", "connect") goes into the error text.
    bool hasDelegateFor(const char* action, ErrorPtr* error) const;
    bool isIdleFor(const char* action, ErrorPtr* error) const;
    bool preConnect(const std::string& interface, ErrorPtr* error);
    bool preConnectWithUrl(ErrorPtr* error);
    bool connectToHostImpl(const std::string& host, uint16_t port, const std::string& interface, double timeout,
                           ErrorPtr* error);
    bool connectToAddressImpl(const Bytes& address, const std::string& interface, double timeout, ErrorPtr* error);
    bool connectToUrlImpl(const std::string& url, double timeout, ErrorPtr* error);
    void lookupDidSucceed(const std::vector<Bytes>& addresses);
    bool connectWithAddress4(const Bytes& address4, const Bytes& address6, ErrorPtr* error);
    int createConnectSocket(int family, const Bytes& interface, ErrorPtr* error);
    void connectSocket(int fd, const Bytes& address, int stateIndex);
    void connectAttemptFinished(int fd, int error, int stateIndex);
    void didConnect(int fd);
    dispatch::SourcePtr* connectSourceFor(int fd);
    void cancelConnectSources();
    void startConnectTimeout(double timeout);
    void doConnectTimeout();
    void endConnectTimeout();
    void closeWithError(const ErrorPtr& error);
    void maybeClose();
    void disconnectAfter(uint32_t flags);

    // Reading and writing (GCDAsyncSocketIO.cpp).
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
    void suspendReadSource();
    void resumeReadSource();
    void suspendWriteSource();
    void resumeWriteSource();
    void setSourceSuspended(const dispatch::SourcePtr& source, uint32_t flag, bool suspended);
    void queueRead(std::shared_ptr<GCDAsyncReadPacket> packet);
    // Appends a read or write packet on the socket queue and dequeues that side.
    template <class Packet>
    void queuePacket(std::shared_ptr<Packet> packet);
    // Makes the queue's head current; true when it is a TLS start (then begun).
    template <class Entry>
    bool takeHead(std::deque<Entry>& queue, std::optional<Entry>& current, uint32_t tlsFlag);
    void maybeDequeueRead();
    void maybeDequeue(bool read);
    void doReadData();
    void continueReadAfterFullStep();
    void doReadEOF();
    void completeCurrentRead();
    void endCurrentRead();
    void setupReadTimerWithTimeout(double timeout);
    void doReadTimeout();
    void doReadTimeoutWithExtension(double extension);
    void maybeDequeueWrite();
    void doWriteData();
    void completeCurrentWrite();
    void endCurrentWrite();
    // Forgets every queued read and write (not the current ones) and the write backlog.
    void dropQueuedReadsAndWrites();
    void setupWriteTimerWithTimeout(double timeout);
    void doWriteTimeout();
    void doWriteTimeoutWithExtension(double extension);
    dispatch::SourcePtr makeTimer(double seconds, void (GCDAsyncSocket::*handler)());
    struct Deadline;
    void armDeadline(Deadline GCDAsyncSocket::*which, double seconds, void (GCDAsyncSocket::*expired)());
    void deadlineFired(Deadline GCDAsyncSocket::*which, void (GCDAsyncSocket::*expired)());
    void dropDeadline(Deadline& deadline);
    // An answer to the time-out question: a positive extension moves the deadline and goes on,
    // anything else closes with that side's time-out error.
    void applyExtension(bool read, double extension);
    float progress(bool read, long* tag, size_t* done, size_t* total) const;
    // The time-out question to the delegate (reads when `read`), with that side paused.
    template <class Packet>
    void askForExtension(bool read, const std::shared_ptr<Packet>& current);
    template <class Packet, class Entry>
    static std::shared_ptr<Packet> packetOf(const std::optional<Entry>& entry) {
        if (!entry) return nullptr;
        auto* p = std::get_if<std::shared_ptr<Packet>>(&*entry);
        return p ? *p : nullptr;
    }
    int connectionFD() const;
    GCDAsyncReadPacket* currentReadPacket() const;
    GCDAsyncWritePacket* currentWritePacket() const;

    // TLS (GCDAsyncSocketTLS.cpp).
    void maybeStartTLS();
    void ssl_startTLS();
    void ssl_continueSSLHandshake();
    void ssl_shouldTrustPeer(bool shouldTrust, int stateIndex);
    void flushSSLBuffers();
    void noteClosedBySSLFlush(int32_t status);
    int32_t sslReadWithBuffer(uint8_t* buffer, size_t* length);
    int32_t sslWriteWithBuffer(const uint8_t* buffer, size_t* length);
    void doHandshakeTimeout();
    size_t sslBufferedReadSize() const;

    // Addresses of one descriptor.
    static std::string hostOfName(int fd, bool peer, int family);
    static uint16_t portOfName(int fd, bool peer, int family);
    static Bytes addressOfName(int fd, bool peer);

    uint32_t flags_ = 0;
    uint16_t config_ = 0;
    DelegatePtr delegate_;
    dispatch::QueuePtr delegateQueue_;
    int socket4FD_ = -1;
    int socket6FD_ = -1;
    int socketUN_ = -1;
    std::string socketUrl_;
    int stateIndex_ = 0;
    dispatch::QueuePtr socketQueue_;
    dispatch::SourcePtr accept4Source_, accept6Source_, acceptUNSource_;
    dispatch::SourcePtr connectTimer_;
    // Writability of each descriptor while its connect is under way.
    dispatch::SourcePtr connect4Source_, connect6Source_, connectUNSource_;
    Bytes connectInterface4_, connectInterface6_, connectInterfaceUN_;
    // Set once a pause of accepting has been logged; cleared by the next accepted connection.
    bool acceptPauseLogged_ = false;
    dispatch::SourcePtr readSource_, writeSource_;
    // A time limit moved in place, one per direction: `due` is when the current read (write)
    // runs out. The timer is moved only when `due` comes before the moment it is armed for;
    // firing before `due` it is armed again for `due`, and ending a read only clears `due`,
    // so that reads and writes cost no timer of their own.
    static constexpr int64_t kNoDeadline = INT64_MAX;
    struct Deadline {
        dispatch::SourcePtr timer;
        int64_t due = kNoDeadline;    // monotonic nanoseconds
        int64_t armed = kNoDeadline;  // what the timer is armed for
    };
    Deadline readDeadline_, writeDeadline_;
    dispatch::SourcePtr handshakeTimer_;
    std::deque<ReadEntry> readQueue_;
    std::deque<WriteEntry> writeQueue_;
    // Bytes of the writes queued and current not yet completed, and the bound above which no
    // read starts; whether a queued read waits for the backlog to go down.
    size_t writeBacklog_ = 0;
    size_t maximumWriteBacklog_ = 0;
    bool readWaitsForWrites_ = false;
    std::optional<ReadEntry> currentRead_;
    std::optional<WriteEntry> currentWrite_;
    uint64_t socketFDBytesAvailable_ = 0;
    GCDAsyncSocketPreBuffer preBuffer_{4096};
    std::unique_ptr<TlsEngine> sslContext_;
    std::unique_ptr<GCDAsyncSocketPreBuffer> sslPreBuffer_;
    size_t sslWriteCachedLength_ = 0;
    int32_t sslErrCode_ = 0;
    int32_t lastSSLHandshakeError_ = 0;
    char isOnSocketQueueOrTargetQueueKey_ = 0;
    std::any userData_;
    double alternateAddressDelay_ = 0.3;
};

}  // namespace telvo
