#pragma once
// What a socket tells its owner. Every operation is optional: the defaults do nothing (the
// event is dropped). Each call arrives as a block on the delegate queue the owner chose, never
// on the socket's own queue, so a delegate may call any socket operation from inside it; the
// one exception, socketTakesReadOnSocketQueue, says so.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include "platform/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo {

class GCDAsyncSocket;
using GCDAsyncSocketPtr = std::shared_ptr<GCDAsyncSocket>;

// The peer's certificate chain as the TLS layer received it (client side only): DER bytes of
// each certificate, the peer's own first.
struct GCDAsyncSocketTrust {
    std::vector<Bytes> certificates;
};

class GCDAsyncSocketDelegate {
public:
    virtual ~GCDAsyncSocketDelegate() = default;

    // Listener: the socket queue for a connection from `address` (a raw socket address), or
    // null for a new "GCDAsyncSocket" queue of its own. A queue given must be serial.
    virtual dispatch::QueuePtr newSocketQueueForConnectionFromAddress(const Bytes& /*address*/,
                                                                      const GCDAsyncSocketPtr& /*sock*/) {
        return nullptr;
    }
    // Listener: a connection was accepted. The delegate must keep `newSocket`; one that nobody
    // keeps is closed when released. Its callbacks go to this delegate on this queue until
    // setDelegate(...) moves them.
    virtual void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& /*sock*/, const GCDAsyncSocketPtr& /*newSocket*/) {}
    // A connect succeeded: the peer's address text and port (or, for a Unix-domain connect,
    // its "file://" URL). Reads and writes queued meanwhile start now.
    virtual void socketDidConnectToHost(const GCDAsyncSocketPtr& /*sock*/, const std::string& /*host*/, uint16_t /*port*/) {}
    virtual void socketDidConnectToUrl(const GCDAsyncSocketPtr& /*sock*/, const std::string& /*url*/) {}

    // A read completed; a terminator read's data ends with the terminator.
    virtual void socketDidReadData(const GCDAsyncSocketPtr& /*sock*/, const Bytes& /*data*/, long /*tag*/) {}
    // Called on the socket's own queue, before socketDidReadData is queued, from any thread:
    // a delegate that can answer the read there (touching only what is safe from any thread)
    // does so and answers true, and the read is not reported. The socket's reads and writes
    // may be queued from inside; they run after this call. The default takes nothing.
    virtual bool socketTakesReadOnSocketQueue(const GCDAsyncSocketPtr& /*sock*/, const Bytes& /*data*/, long /*tag*/) {
        return false;
    }
    virtual void socketDidReadPartialDataOfLength(const GCDAsyncSocketPtr& /*sock*/, size_t /*partialLength*/, long /*tag*/) {}
    virtual void socketDidWriteDataWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/) {}
    virtual void socketDidWritePartialDataOfLength(const GCDAsyncSocketPtr& /*sock*/, size_t /*partialLength*/, long /*tag*/) {}

    // Whether the delegate takes the progress reports: the write reports
    // (socketDidWriteDataWithTag, socketDidWritePartialDataOfLength) and the partial read
    // report. A delegate that answers false is not sent them, which spares its queue a block
    // for every write.
    virtual bool respondsToWriteReports() const { return true; }
    virtual bool respondsToPartialReadReports() const { return true; }

    // The current read's (write's) time limit ran out: answer the extension in seconds.
    // No answer (the default) or one of 0 or less closes the socket with the read (write)
    // time-out error, code 4 (5). `elapsed` is the whole time limit so far.
    virtual std::optional<double> socketShouldTimeoutReadWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/,
                                                                 double /*elapsed*/, size_t /*bytesDone*/) {
        return std::nullopt;
    }
    virtual std::optional<double> socketShouldTimeoutWriteWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/,
                                                                  double /*elapsed*/, size_t /*bytesDone*/) {
        return std::nullopt;
    }

    // The peer ended its stream and the socket stays open (autoDisconnectOnClosedReadStream off).
    virtual void socketDidCloseReadStream(const GCDAsyncSocketPtr& /*sock*/) {}
    // The socket closed; `error` is null for a close on request. Reported exactly once per
    // close of a started socket. `sock` is null when the close came from the socket's
    // destruction.
    virtual void socketDidDisconnect(const GCDAsyncSocketPtr& /*sock*/, const ErrorPtr& /*error*/) {}
    // The TLS handshake finished.
    virtual void socketDidSecure(const GCDAsyncSocketPtr& /*sock*/) {}
    // Client side with manual trust evaluation only: call `completionHandler` (from any
    // thread, once) with true to go on or false to refuse the server, and answer true.
    // Answering false (the default) means the operation is not implemented: the socket closes.
    virtual bool socketDidReceiveTrust(const GCDAsyncSocketPtr& /*sock*/, const GCDAsyncSocketTrust& /*trust*/,
                                       std::function<void(bool)> /*completionHandler*/) {
        return false;
    }
};

}  // namespace telvo
