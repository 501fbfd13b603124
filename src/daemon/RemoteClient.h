#pragma once
// One connected client: owns the accepted socket, starts TLS at once, reads one message at a
// time up to "</tvx>", answers the hello, the client details and the passcode, decides whether
// the client is authorised, answers statistics requests with replies built by the served
// collectors, counts the bytes it sends and receives, and leaves the server manager when the
// connection ends. A passcode guess waits, unchecked and with nothing more read, until the
// server's passcode throttle allows its check; a session that is not authorised within a
// minute of its handshake is closed. Runs on the main queue; what it sends leaves through its
// ReplyChannel, which writes statistics replies as bytes, compresses and sends them off the
// main queue.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include "daemon/PasscodeThrottle.h"
#include "net/socket/GCDAsyncSocket.h"
#include "platform/dispatch/Source.h"
#include "platform/values/Value.h"

namespace telvo {

class RemoteClient;
class ReplyChannel;
using RemoteClientPtr = std::shared_ptr<RemoteClient>;

class RemoteClient : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<RemoteClient> {
public:
    // A client message may be at most this long (terminator included); a longer one closes
    // the session with the socket's read-maximum error.
    static constexpr size_t kMaximumMessageLength = 256 * 1024;
    static constexpr double kFirstReadTimeout = 120;
    static constexpr double kReadTimeout = 600;
    static constexpr double kWriteTimeout = 120;
    // While more than this many bytes of answers wait to be sent, the session reads no
    // further message: a client that sends without reading holds no more than that.
    static constexpr size_t kMaximumUnsentBytes = 1024 * 1024;
    // A session that is not authorised this long after its handshake is closed; the
    // handshake itself may take as long.
    static constexpr double kAuthorisationTimeout = 60;
    // Seconds between looks at a waiting guess (whether its turn came or its peer left).
    static constexpr double kGuessPollInterval = 1;

    // Takes the accepted socket, moves its callbacks to the session on the main queue and
    // starts TLS.
    static RemoteClientPtr initWithSocket(const GCDAsyncSocketPtr& socket);
    ~RemoteClient() override;
    // A session without a socket, for tests and the fuzzer: everything it would send goes to
    // `sink` instead (no TLS is started). Its replies are made at once on the caller's queue,
    // or with `offMainQueue` on a queue of its own as a connected session's are.
    static RemoteClientPtr initDetachedForTesting(std::function<void(const std::string&)> sink,
                                                  const std::string& address = "127.0.0.1",
                                                  bool offMainQueue = false);
    // Returns once every answer handed over so far has been written.
    void waitForRepliesForTesting();

    void socketDidSecure(const GCDAsyncSocketPtr& sock) override;
    void socketDidReadData(const GCDAsyncSocketPtr& sock, const Bytes& data, long tag) override;
    // On the socket's queue: a statistics request whose reply was made already for another
    // session, while nothing it shows can have changed, is answered there.
    bool socketTakesReadOnSocketQueue(const GCDAsyncSocketPtr& sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const ErrorPtr& error) override;
    // No progress report is wanted: the main queue is spared a block per write.
    bool respondsToWriteReports() const override { return false; }
    bool respondsToPartialReadReports() const override { return false; }

    // Handles one message; answers whether the next read may be queued now (false while a
    // passcode waits for its check, which queues the read itself once answered).
    bool processXML(std::string_view bytes);
    void sendServerDetails();
    void sendStatResponse();
    void sendData(const std::string& bytes);
    void startSSL();
    static std::optional<std::string> decodeEntities(const std::optional<std::string>& text);
    bool isAuthorized() const;

    // For the client list and the log.
    const std::string& address() const { return address_; }
    std::string name() const;
    double bytes() const { return bytesSent(); }
    double connectedTime() const;
    std::string identifier() const { return deviceUUID_.value_or(""); }
    std::string description() const;

    const std::optional<std::string>& hostname() const { return hostname_; }
    const std::optional<std::string>& deviceUUID() const { return deviceUUID_; }
    int64_t protocolVersion() const { return protocolVersion_.load(std::memory_order_relaxed); }
    int64_t clientPlatform() const { return clientPlatform_; }
    float clientVersion() const { return clientVersion_; }
    bool allowsCompression() const { return allowsCompression_.load(std::memory_order_relaxed); }
    bool authenticated() const { return authenticated_.load(); }
    // True while a passcode guess waits for its check.
    bool passcodeWaiting() const { return ticket_.has_value(); }
    // Chosen by the server manager to make room for a newer connection (on the listener's
    // queue): from then on it does not count as a session waiting for authorisation.
    void markEvicted() { evicted_ = true; }
    bool evicted() const { return evicted_.load(); }
    // On the main queue: closes the session unless it was authorised meanwhile.
    void closeEvicted();
    double bytesSent() const;
    double bytesReceived() const { return bytesReceived_.load(std::memory_order_relaxed); }
    const GCDAsyncSocketPtr& socket() const { return socket_; }

private:
    explicit RemoteClient(GCDAsyncSocketPtr socket);
    // Lines about a session that is not authorised are limited per address unless `always`.
    void log(const std::string& message, bool always = false) const;
    void queueRead(double timeout);
    void armAuthorisationDeadline(double seconds);
    void authorisationDeadline();
    // Checks the waiting guess when the throttle allows; true when it was checked now.
    bool attemptPasscodeCheck();
    void checkPasscode(const std::optional<std::string>& code, bool throttled);
    void dropWaitingGuess();
    void close();

    GCDAsyncSocketPtr socket_;
    std::shared_ptr<ReplyChannel> replies_;
    Bytes terminator_;
    std::string address_;
    std::optional<std::string> hostname_;
    std::optional<std::string> deviceUUID_;
    // Set on the main queue by the hello; read by the socket's queue too.
    std::atomic<int64_t> protocolVersion_{2};
    int64_t clientPlatform_ = 0;
    float clientVersion_ = 0;
    std::atomic<bool> allowsCompression_{false};
    std::atomic<bool> authenticated_{false};
    std::atomic<bool> evicted_{false};
    double connectionTime_ = 0;
    std::atomic<double> bytesReceived_{0};
    Value statTree_;
    // The text of the statistics request being answered, for the shared replies.
    std::string_view requestText_;
    // The authorisation deadline; cancelled when the session ends, so that a storm of short
    // sessions leaves no pending timers behind.
    dispatch::SourcePtr deadline_;
    std::shared_ptr<PasscodeThrottle> throttle_;
    std::optional<PasscodeThrottle::Ticket> ticket_;
    std::optional<std::string> waitingCode_;
};

}  // namespace telvo
