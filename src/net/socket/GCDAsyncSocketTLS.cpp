// TLS of the socket: queueing the upgrade, the meeting of the read and write sides, the
// session's settings, the handshake, the session's input and output through the descriptor,
// and flushing decrypted bytes into the pre-buffer.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/socket/GCDAsyncSocket.h"
#include "net/socket/TlsEngine.h"
#include "net/socket/TlsStatus.h"

namespace telvo {

void GCDAsyncSocket::startTLS(const Value& tlsSettings) {
    Value settings = tlsSettings.isDictionary() ? tlsSettings : Value(ValueDictionary{});
    auto packet = std::make_shared<GCDAsyncSpecialPacket>(std::move(settings));
    socketQueue_->async([self = shared_from_this(), packet] {
        const uint32_t f = self->flags_;
        if ((f & kSocketStarted) && !(f & kQueuedTLS) && !(f & kForbidReadsWrites)) {
            self->readQueue_.push_back(packet);
            self->writeQueue_.push_back(packet);
            self->flags_ |= kQueuedTLS;
            self->maybeDequeueRead();
            self->maybeDequeueWrite();
        }
    });
}

void GCDAsyncSocket::maybeStartTLS() {
    if ((flags_ & kStartingReadTLS) && (flags_ & kStartingWriteTLS)) ssl_startTLS();
}

void GCDAsyncSocket::ssl_startTLS() {
    std::shared_ptr<GCDAsyncSpecialPacket> packet;
    if (currentRead_) {
        if (auto* p = std::get_if<std::shared_ptr<GCDAsyncSpecialPacket>>(&*currentRead_)) packet = *p;
    }
    if (!packet) {
        closeWithError(socket_errors::otherError("Logic error"));
        return;
    }
    const Value& settings = packet->tlsSettings;
    const bool isServer = settings[kCFStreamSSLIsServer].boolValue();

    sslContext_ = TlsEngine::create(isServer);
    if (!sslContext_) {
        closeWithError(socket_errors::otherError("Error in SSLCreateContext"));
        return;
    }
    // The session runs only inside socket-queue blocks of this socket, so it may call back
    // into it directly.
    sslContext_->setIOFuncs([this](uint8_t* buffer, size_t* length) { return sslReadWithBuffer(buffer, length); },
                            [this](const uint8_t* data, size_t* length) { return sslWriteWithBuffer(data, length); });

    auto fail = [this](const std::string& text) { closeWithError(socket_errors::otherError(text)); };

    if (settings.has(GCDAsyncSocketManuallyEvaluateTrust)) {
        if (settings[GCDAsyncSocketManuallyEvaluateTrust].boolValue()) {
            if (isServer) return fail("Manual trust validation is not supported for server sockets");
            if (sslContext_->setSessionOption(0, true) != tls::noErr) return fail("Error in SSLSetSessionOption");
        }
    }
    if (settings.has(kCFStreamSSLPeerName)) {
        const Value& v = settings[kCFStreamSSLPeerName];
        if (!v.isString()) return fail("Invalid value for kCFStreamSSLPeerName.");
        if (sslContext_->setPeerDomainName(v.string()) != tls::noErr) return fail("Error in SSLSetPeerDomainName");
    }
    if (settings.has(kCFStreamSSLCertificates)) {
        const Value& v = settings[kCFStreamSSLCertificates];
        if (!v.isArray()) return fail("Invalid value for kCFStreamSSLCertificates.");
        if (sslContext_->setCertificate(v.array()) != tls::noErr) return fail("Error in SSLSetCertificate");
    }
    if (settings.has(GCDAsyncSocketSSLPeerID)) {
        const Value& v = settings[GCDAsyncSocketSSLPeerID];
        if (!v.isData()) return fail("Invalid value for GCDAsyncSocketSSLPeerID.");
        if (sslContext_->setPeerID(v.bytes()) != tls::noErr) return fail("Error in SSLSetPeerID");
    }
    if (settings.has(GCDAsyncSocketSSLProtocolVersionMin)) {
        const Value& v = settings[GCDAsyncSocketSSLProtocolVersionMin];
        if (!v.isNumber()) return fail("Invalid value for GCDAsyncSocketSSLProtocolVersionMin.");
        if (v.intValue() != 0 && sslContext_->setProtocolVersionMin(v.intValue()) != tls::noErr)
            return fail("Error in SSLSetProtocolVersionMin");
    }
    if (settings.has(GCDAsyncSocketSSLProtocolVersionMax)) {
        const Value& v = settings[GCDAsyncSocketSSLProtocolVersionMax];
        if (!v.isNumber()) return fail("Invalid value for GCDAsyncSocketSSLProtocolVersionMax.");
        if (v.intValue() != 0 && sslContext_->setProtocolVersionMax(v.intValue()) != tls::noErr)
            return fail("Error in SSLSetProtocolVersionMax");
    }
    if (settings.has(GCDAsyncSocketSSLSessionOptionFalseStart)) {
        const Value& v = settings[GCDAsyncSocketSSLSessionOptionFalseStart];
        if (!v.isNumber()) return fail("Invalid value for GCDAsyncSocketSSLSessionOptionFalseStart.");
        if (sslContext_->setSessionOption(3, v.boolValue()) != tls::noErr)
            return fail("Error in SSLSetSessionOption (kSSLSessionOptionFalseStart)");
    }
    if (settings.has(GCDAsyncSocketSSLSessionOptionSendOneByteRecord)) {
        const Value& v = settings[GCDAsyncSocketSSLSessionOptionSendOneByteRecord];
        if (!v.isNumber()) return fail("Invalid value for GCDAsyncSocketSSLSessionOptionSendOneByteRecord.");
        if (sslContext_->setSessionOption(4, v.boolValue()) != tls::noErr)
            return fail("Error in SSLSetSessionOption (kSSLSessionOptionSendOneByteRecord)");
    }
    if (settings.has(GCDAsyncSocketSSLCipherSuites)) {
        const Value& v = settings[GCDAsyncSocketSSLCipherSuites];
        if (!v.isArray()) return fail("Invalid value for GCDAsyncSocketSSLCipherSuites.");
        std::vector<uint16_t> suites;
        for (const Value& suite : v.array()) suites.push_back(uint16_t(suite.intValue()));
        if (sslContext_->setEnabledCiphers(suites) != tls::noErr) return fail("Error in SSLSetEnabledCiphers");
    }
    if (settings.has(GCDAsyncSocketSSLDiffieHellmanParameters)) {
        const Value& v = settings[GCDAsyncSocketSSLDiffieHellmanParameters];
        if (!v.isData()) return fail("Invalid value for GCDAsyncSocketSSLDiffieHellmanParameters.");
        if (sslContext_->setDiffieHellmanParams(v.bytes()) != tls::noErr)
            return fail("Error in SSLSetDiffieHellmanParams");
    }
    for (const char* refused : {kCFStreamSSLAllowsAnyRoot, kCFStreamSSLAllowsExpiredRoots,
                                kCFStreamSSLValidatesCertificateChain, kCFStreamSSLAllowsExpiredCertificates,
                                kCFStreamSSLLevel}) {
        if (settings.has(refused)) return fail(std::string("Security option unavailable - ") + refused);
    }
    double handshakeTimeout = GCDAsyncSocketDefaultHandshakeTimeout;
    if (settings.has(GCDAsyncSocketSSLHandshakeTimeout)) {
        const Value& v = settings[GCDAsyncSocketSSLHandshakeTimeout];
        if (!v.isNumber()) return fail("Invalid value for GCDAsyncSocketSSLHandshakeTimeout.");
        handshakeTimeout = v.doubleValue();
    }

    // Bytes that arrived before the upgrade are the first bytes of the session.
    sslPreBuffer_ = std::make_unique<GCDAsyncSocketPreBuffer>(4096);
    if (size_t n = preBuffer_.availableBytes()) {
        sslPreBuffer_->ensureCapacityForWrite(n);
        std::memcpy(sslPreBuffer_->writeBuffer(), preBuffer_.readBuffer(), n);
        sslPreBuffer_->didWrite(n);
        preBuffer_.didRead(n);
    }
    lastSSLHandshakeError_ = 0;
    sslErrCode_ = 0;
    // A peer that connects and never finishes the handshake must not hold the connection.
    if (handshakeTimeout >= 0) handshakeTimer_ = makeTimer(handshakeTimeout, &GCDAsyncSocket::doHandshakeTimeout);
    ssl_continueSSLHandshake();
}

void GCDAsyncSocket::doHandshakeTimeout() {
    if (sslContext_ && !(flags_ & kSocketSecure)) closeWithError(socket_errors::readTimeoutError());
}

void GCDAsyncSocket::ssl_continueSSLHandshake() {
    if (!sslContext_) return;
    const int32_t status = sslContext_->handshake();
    lastSSLHandshakeError_ = status;

    if (status == tls::noErr) {
        flags_ &= ~(kStartingReadTLS | kStartingWriteTLS);
        flags_ |= kSocketSecure;
        if (handshakeTimer_) {
            handshakeTimer_->cancel();
            handshakeTimer_.reset();
        }
        GCDAsyncSocketPtr self = shared_from_this();
        notifyDelegate([self](GCDAsyncSocketDelegate& d) { d.socketDidSecure(self); });
        endCurrentRead();
        endCurrentWrite();
        maybeDequeueRead();
        maybeDequeueWrite();
    } else if (status == tls::errSSLWouldBlock) {
        // The session waits for the descriptor. The read function resumed the read source
        // when it found nothing; a write that could not go out needs the write source.
        if (!(flags_ & kSocketCanAcceptBytes)) resumeWriteSource();
    } else if (status == tls::errSSLPeerAuthCompleted) {
        GCDAsyncSocketTrust trust;
        int32_t copyStatus = sslContext_->copyPeerTrust(&trust);
        if (copyStatus != tls::noErr) {
            closeWithError(socket_errors::sslError(copyStatus));
            return;
        }
        const int index = stateIndex_;
        std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
        dispatch::QueuePtr socketQueue = socketQueue_;
        std::function<void(bool)> handler = [weakSelf, socketQueue, index](bool shouldTrust) {
            socketQueue->async([weakSelf, shouldTrust, index] {
                if (auto self = weakSelf.lock()) self->ssl_shouldTrustPeer(shouldTrust, index);
            });
        };
        const char* missing =
            "GCDAsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement "
            "socket:shouldTrustPeer:";
        std::shared_ptr<GCDAsyncSocketDelegate> delegate = delegate_.lock();
        if (!delegate || !delegateQueue_) {
            closeWithError(socket_errors::otherError(missing));
            return;
        }
        GCDAsyncSocketPtr self = shared_from_this();
        delegateQueue_->async([delegate, self, trust, handler, index, missing] {
            if (delegate->socketDidReceiveTrust(self, trust, handler)) return;
            self->socketQueue_->async([self, index, missing] {
                if (index == self->stateIndex_) self->closeWithError(socket_errors::otherError(missing));
            });
        });
    } else {
        closeWithError(socket_errors::sslError(status));
    }
}

void GCDAsyncSocket::ssl_shouldTrustPeer(bool shouldTrust, int stateIndex) {
    if (stateIndex != stateIndex_) return;  // closed or answered since the question
    ++stateIndex_;
    if (!shouldTrust) {
        closeWithError(socket_errors::sslError(tls::errSSLPeerBadCert));
        return;
    }
    if (lastSSLHandshakeError_ != tls::errSSLPeerAuthCompleted) {
        socketProgrammingError("ssl_shouldTrustPeer called when last error is not errSSLPeerAuthCompleted");
    }
    ssl_continueSSLHandshake();
}

size_t GCDAsyncSocket::sslBufferedReadSize() const { return sslContext_ ? sslContext_->bufferedReadSize() : 0; }

void GCDAsyncSocket::flushSSLBuffers() {
    if (!(flags_ & kSocketSecure)) socketProgrammingError("Cannot flush ssl buffers on non-secure socket");
    if (preBuffer_.availableBytes() > 0 || !sslContext_) return;
    auto estimate = [this] {
        return size_t(socketFDBytesAvailable_) + (sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0) +
               sslBufferedReadSize();
    };
    size_t estimated = estimate();
    while (estimated > 0) {
        preBuffer_.ensureCapacityForWrite(estimated);
        size_t bytesRead = 0;
        int32_t result = sslContext_->read(preBuffer_.writeBuffer(), estimated, &bytesRead);
        if (bytesRead > 0) preBuffer_.didWrite(bytesRead);
        if (result != tls::noErr) {
            if (result == tls::errSSLClosedGraceful || result == tls::errSSLClosedAbort) noteClosedBySSLFlush(result);
            break;
        }
        estimated = estimate();
    }
}

// The peer's close alert can be taken here, with no read current (or reads paused): its bytes
// are gone from the descriptor then, and no end of stream need follow (another process may
// hold the peer's descriptor open), so nothing would tell of the close again. It is kept as a
// read step would keep it and the end-of-stream step runs in a block of its own (the flush
// runs inside read steps and the end-of-stream step itself).
void GCDAsyncSocket::noteClosedBySSLFlush(int32_t status) {
    if (flags_ & kSocketHasReadEOF) return;
    sslErrCode_ = status;
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    socketQueue_->async([weakSelf] {
        auto self = weakSelf.lock();
        if (!self || !(self->flags_ & kConnected) || (self->flags_ & kSocketHasReadEOF)) return;
        self->doReadEOF();
    });
}

int32_t GCDAsyncSocket::sslReadWithBuffer(uint8_t* buffer, size_t* length) {
    if (!isOnCorrectQueue()) socketProgrammingError("Must be dispatched on socketQueue");
    if (socketFDBytesAvailable_ == 0 && sslPreBuffer_->availableBytes() == 0) {
        resumeReadSource();
        *length = 0;
        return tls::errSSLWouldBlock;
    }
    size_t wanted = *length;
    size_t delivered = 0;
    if (size_t buffered = sslPreBuffer_->availableBytes()) {
        size_t n = std::min(buffered, wanted);
        std::memcpy(buffer, sslPreBuffer_->readBuffer(), n);
        sslPreBuffer_->didRead(n);
        delivered += n;
        wanted -= n;
    }
    bool done = wanted == 0;
    bool socketError = false;
    if (!done && socketFDBytesAvailable_ > 0) {
        const bool readIntoPreBuffer = socketFDBytesAvailable_ > wanted;
        size_t bytesToRead;
        uint8_t* target;
        if (readIntoPreBuffer) {
            bytesToRead = size_t(socketFDBytesAvailable_);
            sslPreBuffer_->ensureCapacityForWrite(bytesToRead);
            target = sslPreBuffer_->writeBuffer();
        } else {
            bytesToRead = wanted;
            target = buffer + delivered;
        }
        ssize_t result = ::read(connectionFD(), target, bytesToRead);
        if (result < 0) {
            if (errno != EWOULDBLOCK && errno != EAGAIN) socketError = true;
            socketFDBytesAvailable_ = 0;
        } else if (result == 0) {
            socketError = true;
            socketFDBytesAvailable_ = 0;
        } else {
            size_t n = size_t(result);
            socketFDBytesAvailable_ = n >= socketFDBytesAvailable_ ? 0 : socketFDBytesAvailable_ - n;
            if (readIntoPreBuffer) {
                sslPreBuffer_->didWrite(n);
                size_t c = std::min(wanted, n);
                std::memcpy(buffer + delivered, sslPreBuffer_->readBuffer(), c);
                sslPreBuffer_->didRead(c);
                delivered += c;
                wanted -= c;
            } else {
                delivered += n;
                wanted -= n;
            }
            done = wanted == 0;
        }
    }
    *length = delivered;
    if (done) return tls::noErr;
    if (socketError) return tls::errSSLClosedAbort;
    return tls::errSSLWouldBlock;
}

int32_t GCDAsyncSocket::sslWriteWithBuffer(const uint8_t* buffer, size_t* length) {
    if (!isOnCorrectQueue()) socketProgrammingError("Must be dispatched on socketQueue");
    if (!(flags_ & kSocketCanAcceptBytes)) {
        resumeWriteSource();
        *length = 0;
        return tls::errSSLWouldBlock;
    }
    const size_t offered = *length;
    ssize_t result = ::send(connectionFD(), buffer, offered, MSG_NOSIGNAL);
    if (result > 0) {
        *length = size_t(result);
        return size_t(result) == offered ? tls::noErr : tls::errSSLWouldBlock;
    }
    int32_t status = tls::errSSLWouldBlock;
    if (result < 0 && errno != EWOULDBLOCK && errno != EAGAIN) status = tls::errSSLClosedAbort;
    *length = 0;
    flags_ &= ~kSocketCanAcceptBytes;
    return status;
}

}  // namespace telvo
