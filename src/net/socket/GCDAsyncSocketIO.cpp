// The read and write engine of the socket: readiness sources, queued reads and writes, the
// pre-buffer, time limits and their extension questions.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "net/socket/GCDAsyncSocket.h"
#include "net/socket/TlsEngine.h"
#include "net/socket/TlsStatus.h"
#include "platform/time/Clock.h"

namespace telvo {

using dispatch::Source;
using dispatch::SourcePtr;
using platform::Clock;

namespace {
// Over TLS, the session is asked for at least this much per read and offered at most this much
// per write.
constexpr size_t kTLSReadChunk = 32768;
constexpr size_t kTLSWriteChunk = 32768;

// The thread's landing place for a TLS read step bound for the pre-buffer (see doReadData).
std::vector<uint8_t>& tlsReadStaging() {
    thread_local std::vector<uint8_t> buffer(kTLSReadChunk);
    return buffer;
}

}  // namespace

int GCDAsyncSocket::connectionFD() const {
    if (socket4FD_ != -1) return socket4FD_;
    if (socket6FD_ != -1) return socket6FD_;
    return socketUN_;
}

GCDAsyncReadPacket* GCDAsyncSocket::currentReadPacket() const {
    if (!currentRead_) return nullptr;
    auto* p = std::get_if<std::shared_ptr<GCDAsyncReadPacket>>(&*currentRead_);
    return p ? p->get() : nullptr;
}

GCDAsyncWritePacket* GCDAsyncSocket::currentWritePacket() const {
    if (!currentWrite_) return nullptr;
    auto* p = std::get_if<std::shared_ptr<GCDAsyncWritePacket>>(&*currentWrite_);
    return p ? p->get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Sources

void GCDAsyncSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd) {
    readSource_ = Source::createRead(fd, socketQueue_);
    writeSource_ = Source::createWrite(fd, socketQueue_);
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    std::weak_ptr<Source> weakRead = readSource_;
    std::weak_ptr<Source> weakWrite = writeSource_;

    readSource_->setEventHandler([weakSelf, weakRead, fd] {
        auto self = weakSelf.lock();
        auto source = weakRead.lock();
        if (!self || !source || source->isCancelled()) return;
        self->socketFDBytesAvailable_ = source->data();
        if (self->socketFDBytesAvailable_ > 0) {
            self->doReadData();
            return;
        }
        // The count is taken when the descriptor turns readable, apart from this queue: a read
        // step may have taken the bytes in between, and then 0 means "nothing now", not the
        // end of the stream. Only the descriptor can tell.
        char probe;
        const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            int available = 0;
            if (::ioctl(fd, FIONREAD, &available) != 0 || available < 1) available = 1;
            self->socketFDBytesAvailable_ = size_t(available);
            self->doReadData();
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // Nothing to read yet: the source fires again when there is.
        } else {
            self->doReadEOF();
        }
    });
    writeSource_->setEventHandler([weakSelf, weakWrite] {
        auto self = weakSelf.lock();
        auto source = weakWrite.lock();
        if (!self || !source || source->isCancelled()) return;
        self->flags_ |= kSocketCanAcceptBytes;
        self->doWriteData();
    });
    // The descriptor is closed once both sources are cancelled.
    auto remaining = std::make_shared<int>(2);
    auto cancelHandler = [remaining, fd] {
        if (--*remaining == 0) ::close(fd);
    };
    readSource_->setCancelHandler(cancelHandler);
    writeSource_->setCancelHandler(cancelHandler);

    socketFDBytesAvailable_ = 0;
    flags_ &= ~kReadSourceSuspended;
    readSource_->resume();
    // Writable until a write says otherwise; the write source waits suspended until then.
    flags_ |= kSocketCanAcceptBytes | kWriteSourceSuspended;
}

// The suspended flags keep suspensions from nesting.
void GCDAsyncSocket::setSourceSuspended(const SourcePtr& source, uint32_t flag, bool suspended) {
    if (!source || bool(flags_ & flag) == suspended) return;
    if (suspended) source->suspend();
    else source->resume();
    flags_ ^= flag;
}
void GCDAsyncSocket::suspendReadSource() { setSourceSuspended(readSource_, kReadSourceSuspended, true); }
void GCDAsyncSocket::resumeReadSource() { setSourceSuspended(readSource_, kReadSourceSuspended, false); }
void GCDAsyncSocket::suspendWriteSource() { setSourceSuspended(writeSource_, kWriteSourceSuspended, true); }
void GCDAsyncSocket::resumeWriteSource() { setSourceSuspended(writeSource_, kWriteSourceSuspended, false); }

SourcePtr GCDAsyncSocket::makeTimer(double seconds, void (GCDAsyncSocket::*handler)()) {
    SourcePtr timer = Source::createTimer(socketQueue_);
    std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
    std::weak_ptr<Source> weakTimer = timer;
    timer->setEventHandler([weakSelf, weakTimer, handler] {
        auto self = weakSelf.lock();
        auto source = weakTimer.lock();
        if (!self || !source || source->isCancelled()) return;
        (self.get()->*handler)();
    });
    timer->scheduleAfter(seconds, 0, 0);
    timer->resume();
    return timer;
}

// ---------------------------------------------------------------------------------------------
// Reading

void GCDAsyncSocket::readDataWithTimeout(double timeout, long tag) {
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset, long tag) {
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                                         size_t maxLength, long tag) {
    if (offset > (buffer ? buffer->size() : 0)) return;
    queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, Bytes(), tag));
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, long tag) {
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                                      long tag) {
    if (length == 0) return;
    if (offset > (buffer ? buffer->size() : 0)) return;
    queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, 0, timeout, length, Bytes(), tag));
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, long tag) {
    readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                                    long tag) {
    readDataToData(data, timeout, std::move(buffer), offset, 0, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, size_t maxLength, long tag) {
    readDataToData(data, timeout, nullptr, 0, maxLength, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                                    size_t maxLength, long tag) {
    if (data.empty()) return;
    if (offset > (buffer ? buffer->size() : 0)) return;
    if (maxLength > 0 && maxLength < data.size()) return;
    queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, data, tag));
}

void GCDAsyncSocket::queueRead(std::shared_ptr<GCDAsyncReadPacket> packet) { queuePacket(std::move(packet)); }

template <class Packet>
void GCDAsyncSocket::queuePacket(std::shared_ptr<Packet> packet) {
    // A read or write queued while the socket queue is idle starts on the caller's thread (a
    // session's reply is encrypted and sent by the queue that made it), without a worker's
    // wake-up; behind anything queued it waits its turn.
    socketQueue_->asyncHereIfIdle([self = shared_from_this(), packet = std::move(packet)] {
        // Only a started socket that still takes new reads and writes queues them.
        if (!(self->flags_ & kSocketStarted) || (self->flags_ & kForbidReadsWrites)) return;
        if constexpr (std::is_same_v<Packet, GCDAsyncReadPacket>) {
            self->readQueue_.push_back(packet);
            self->maybeDequeueRead();
        } else {
            self->writeBacklog_ += packet->buffer ? packet->buffer->size() : 0;
            self->writeQueue_.push_back(packet);
            self->maybeDequeueWrite();
        }
    });
}

template <class Entry>
bool GCDAsyncSocket::takeHead(std::deque<Entry>& queue, std::optional<Entry>& current, uint32_t tlsFlag) {
    current = queue.front();
    queue.pop_front();
    if (!std::holds_alternative<std::shared_ptr<GCDAsyncSpecialPacket>>(*current)) return false;
    // A TLS start: this side waits there for the other.
    flags_ |= tlsFlag;
    maybeStartTLS();
    return true;
}

void GCDAsyncSocket::maybeDequeueRead() { maybeDequeue(true); }
void GCDAsyncSocket::maybeDequeueWrite() { maybeDequeue(false); }

void GCDAsyncSocket::maybeDequeue(bool read) {
    if (!isOnCorrectQueue()) socketProgrammingError("Must be dispatched on socketQueue");
    if ((read ? currentRead_.has_value() : currentWrite_.has_value()) || !(flags_ & kConnected)) return;
    if (read && maximumWriteBacklog_ > 0 && writeBacklog_ > maximumWriteBacklog_ && !readQueue_.empty()) {
        // The peer does not take what it was sent: its next message is not read until it does.
        readWaitsForWrites_ = true;
        return;
    }
    if (read ? !readQueue_.empty() : !writeQueue_.empty()) {
        if (read ? takeHead(readQueue_, currentRead_, kStartingReadTLS)
                 : takeHead(writeQueue_, currentWrite_, kStartingWriteTLS))
            return;
        if (read) {
            setupReadTimerWithTimeout(currentReadPacket()->timeout);
            doReadData();
        } else {
            setupWriteTimerWithTimeout(currentWritePacket()->timeout);
            doWriteData();
        }
        return;
    }
    // Nothing queued on this side: a close after it waits for the other side too, when asked.
    const bool otherIdle = read ? writeQueue_.empty() && !currentWrite_ : readQueue_.empty() && !currentRead_;
    if (flags_ & (read ? kDisconnectAfterReads : kDisconnectAfterWrites)) {
        if (!(flags_ & (read ? kDisconnectAfterWrites : kDisconnectAfterReads)) || otherIdle) closeWithError(nullptr);
    } else if (read && (flags_ & kSocketSecure)) {
        // Only the read side has TLS input to flush while it is idle.
        flushSSLBuffers();
        if (preBuffer_.availableBytes() == 0) resumeReadSource();
        // Idle now: buffers grown by a large message go back.
        preBuffer_.shrinkIfEmpty();
        if (sslPreBuffer_) sslPreBuffer_->shrinkIfEmpty();
    }
}

void GCDAsyncSocket::doReadData() {
    GCDAsyncReadPacket* packet = currentReadPacket();
    if (!currentRead_ || (flags_ & kReadsPaused)) {
        if (flags_ & kSocketSecure) flushSSLBuffers();
        if (socketFDBytesAvailable_ > 0) suspendReadSource();
        return;
    }

    const bool secure = (flags_ & kSocketSecure) != 0;
    size_t estimatedBytesAvailable = socketFDBytesAvailable_;
    if (secure) estimatedBytesAvailable += (sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0) + sslBufferedReadSize();
    const bool hasBytesAvailable = estimatedBytesAvailable > 0;

    if (!hasBytesAvailable && preBuffer_.availableBytes() == 0) {
        resumeReadSource();
        return;
    }
    if (flags_ & kStartingReadTLS) {
        if ((flags_ & kStartingWriteTLS) && lastSSLHandshakeError_ == tls::errSSLWouldBlock) ssl_continueSSLHandshake();
        else if (!(flags_ & kStartingWriteTLS)) suspendReadSource();
        return;
    }
    if (!packet) return;  // a special packet is handled above

    bool done = false;
    ErrorPtr error;
    size_t totalBytesReadForCurrentRead = 0;

    // 1. From the pre-buffer.
    if (preBuffer_.availableBytes() > 0) {
        size_t bytesToCopy;
        if (packet->hasTerm()) bytesToCopy = packet->readLengthForTermWithPreBuffer(preBuffer_, &done);
        else bytesToCopy = packet->readLengthForNonTermWithHint(preBuffer_.availableBytes());
        packet->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
        std::memcpy(packet->writePosition(), preBuffer_.readBuffer(), bytesToCopy);
        preBuffer_.didRead(bytesToCopy);
        packet->bytesDone += bytesToCopy;
        totalBytesReadForCurrentRead += bytesToCopy;
        if (packet->readLength > 0) {
            done = packet->bytesDone == packet->readLength;
        } else if (packet->hasTerm()) {
            if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength)
                error = socket_errors::readMaxedOutError();
        } else {
            done = packet->maxLength > 0 && packet->bytesDone == packet->maxLength;
        }
    }

    // 2. From the descriptor or the TLS session.
    bool socketEOF = (flags_ & kSocketHasReadEOF) != 0;
    bool waiting = !done && !error && !socketEOF && !hasBytesAvailable;

    if (!done && !error && !socketEOF && hasBytesAvailable) {
        if (preBuffer_.availableBytes() != 0) socketProgrammingError("Invalid logic");
        bool readIntoPreBuffer = false;
        uint8_t* buffer = nullptr;
        size_t bytesRead = 0;

        if (secure) {
            size_t defaultReadLength =
                estimatedBytesAvailable <= kTLSReadChunk ? kTLSReadChunk : estimatedBytesAvailable + 16384;
            size_t bytesToRead = packet->optimalReadLengthWithDefault(defaultReadLength, &readIntoPreBuffer);
            // A step asks for 32768 bytes and mostly gets a message of a few hundred: they are
            // read into a buffer of the thread's and only what came goes to the pre-buffer,
            // which keeps its size instead of growing to the length asked and back each time.
            const bool staged = readIntoPreBuffer && bytesToRead <= kTLSReadChunk;
            if (staged) {
                buffer = tlsReadStaging().data();
            } else if (readIntoPreBuffer) {
                preBuffer_.ensureCapacityForWrite(bytesToRead);
                buffer = preBuffer_.writeBuffer();
            } else {
                packet->ensureCapacityForAdditionalDataOfLength(bytesToRead);
                buffer = packet->writePosition();
            }
            int32_t result;
            do {
                size_t loopBytesRead = 0;
                result = sslContext_->read(buffer + bytesRead, bytesToRead - bytesRead, &loopBytesRead);
                bytesRead += loopBytesRead;
            } while (result == tls::noErr && bytesRead < bytesToRead);
            if (staged && bytesRead > 0) {
                preBuffer_.ensureCapacityForWrite(bytesRead);
                std::memcpy(preBuffer_.writeBuffer(), buffer, bytesRead);
            }
            if (result != tls::noErr) {
                if (result == tls::errSSLWouldBlock) {
                    waiting = true;
                } else if (result == tls::errSSLClosedGraceful || result == tls::errSSLClosedAbort) {
                    socketEOF = true;
                    sslErrCode_ = result;
                } else {
                    error = socket_errors::sslError(result);
                }
            }
        } else {
            size_t bytesToRead;
            if (packet->hasTerm()) bytesToRead = packet->readLengthForTermWithHint(estimatedBytesAvailable, &readIntoPreBuffer);
            else bytesToRead = packet->readLengthForNonTermWithHint(estimatedBytesAvailable);
            if (readIntoPreBuffer) {
                preBuffer_.ensureCapacityForWrite(bytesToRead);
                buffer = preBuffer_.writeBuffer();
            } else {
                packet->ensureCapacityForAdditionalDataOfLength(bytesToRead);
                buffer = packet->writePosition();
            }
            ssize_t result = ::read(connectionFD(), buffer, bytesToRead);
            if (result < 0) {
                if (errno == EWOULDBLOCK || errno == EAGAIN) waiting = true;
                else error = socket_errors::errnoErrorWithReason("Error in read() function");
                socketFDBytesAvailable_ = 0;
            } else if (result == 0) {
                socketEOF = true;
                socketFDBytesAvailable_ = 0;
            } else {
                bytesRead = size_t(result);
                if (bytesRead < bytesToRead || socketFDBytesAvailable_ <= bytesRead) socketFDBytesAvailable_ = 0;
                else socketFDBytesAvailable_ -= bytesRead;
                if (socketFDBytesAvailable_ == 0) waiting = true;
            }
        }

        if (bytesRead > 0) {
            if (packet->readLength > 0) {
                if (readIntoPreBuffer) socketProgrammingError("Invalid logic");
                packet->bytesDone += bytesRead;
                totalBytesReadForCurrentRead += bytesRead;
                done = packet->bytesDone == packet->readLength;
            } else if (packet->hasTerm()) {
                if (readIntoPreBuffer) {
                    preBuffer_.didWrite(bytesRead);
                    size_t bytesToCopy = packet->readLengthForTermWithPreBuffer(preBuffer_, &done);
                    packet->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
                    std::memcpy(packet->writePosition(), preBuffer_.readBuffer(), bytesToCopy);
                    preBuffer_.didRead(bytesToCopy);
                    packet->bytesDone += bytesToCopy;
                    totalBytesReadForCurrentRead += bytesToCopy;
                } else {
                    int64_t overflow = packet->searchForTermAfterPreBuffering(bytesRead);
                    if (overflow == 0) {
                        packet->bytesDone += bytesRead;
                        totalBytesReadForCurrentRead += bytesRead;
                        done = true;
                    } else if (overflow > 0) {
                        size_t underflow = bytesRead - size_t(overflow);
                        preBuffer_.ensureCapacityForWrite(size_t(overflow));
                        std::memcpy(preBuffer_.writeBuffer(), packet->writePosition() + underflow, size_t(overflow));
                        preBuffer_.didWrite(size_t(overflow));
                        packet->bytesDone += underflow;
                        totalBytesReadForCurrentRead += underflow;
                        done = true;
                    } else {
                        packet->bytesDone += bytesRead;
                        totalBytesReadForCurrentRead += bytesRead;
                    }
                }
                if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength)
                    error = socket_errors::readMaxedOutError();
            } else {
                if (readIntoPreBuffer) {
                    preBuffer_.didWrite(bytesRead);
                    packet->ensureCapacityForAdditionalDataOfLength(bytesRead);
                    std::memcpy(packet->writePosition(), preBuffer_.readBuffer(), bytesRead);
                    preBuffer_.didRead(bytesRead);
                }
                packet->bytesDone += bytesRead;
                totalBytesReadForCurrentRead += bytesRead;
                done = true;
            }
        }
    }

    // A read of what is there is complete with what the pre-buffer gave.
    if (!done && packet->readLength == 0 && !packet->hasTerm() && totalBytesReadForCurrentRead > 0) done = true;

    const int stateIndex = stateIndex_;
    if (done) {
        completeCurrentRead();
        if (!error && (!socketEOF || preBuffer_.availableBytes() > 0)) maybeDequeueRead();
    } else if (totalBytesReadForCurrentRead > 0) {
        GCDAsyncSocketPtr self = shared_from_this();
        const long tag = packet->tag;
        notifyDelegate([self, total = totalBytesReadForCurrentRead, tag](GCDAsyncSocketDelegate& d) {
            d.socketDidReadPartialDataOfLength(self, total, tag);
        }, &GCDAsyncSocketDelegate::respondsToPartialReadReports);
    }
    // The next read may have closed the socket already.
    if (stateIndex != stateIndex_) return;

    if (error) closeWithError(error);
    else if (socketEOF) doReadEOF();
    else if (waiting) resumeReadSource();
    else if (!done) continueReadAfterFullStep();
}

// A step that got all it asked for, short of what the read needs. The rest may be in the
// kernel, and then the read source (resumed here, it may have been suspended while no read
// was current) says so. Over TLS it may also be in the session or its pre-buffer already,
// pulled in with this step's last bytes: the descriptor then has nothing to report, so the
// next step runs from here, after what is queued on this socket's queue.
void GCDAsyncSocket::continueReadAfterFullStep() {
    resumeReadSource();
    if (!(flags_ & kSocketSecure)) return;
    if ((sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0) + sslBufferedReadSize() == 0) return;
    socketQueue_->async([self = shared_from_this(), index = stateIndex_,
                         packet = std::weak_ptr<GCDAsyncReadPacket>(packetOf<GCDAsyncReadPacket>(currentRead_))] {
        // Only for the same read of the same connection: a close, an end or a time-out
        // question meanwhile has its own way on.
        auto current = packet.lock();
        if (index != self->stateIndex_ || !current || self->currentReadPacket() != current.get()) return;
        self->doReadData();
    });
}

void GCDAsyncSocket::doReadEOF() {
    flags_ |= kSocketHasReadEOF;
    if (flags_ & kSocketSecure) flushSSLBuffers();

    bool shouldDisconnect = false;
    ErrorPtr error;
    if ((flags_ & kStartingReadTLS) || (flags_ & kStartingWriteTLS)) {
        shouldDisconnect = true;
        error = socket_errors::sslError(tls::errSSLClosedAbort);
    } else if (flags_ & kReadStreamClosed) {
        shouldDisconnect = false;
    } else if (preBuffer_.availableBytes() > 0) {
        shouldDisconnect = false;
    } else if (config_ & kAllowHalfDuplexConnection) {
        pollfd pfd{connectionFD(), POLLOUT, 0};
        ::poll(&pfd, 1, 0);
        if (pfd.revents & POLLOUT) {
            flags_ |= kReadStreamClosed;
            GCDAsyncSocketPtr self = shared_from_this();
            notifyDelegate([self](GCDAsyncSocketDelegate& d) { d.socketDidCloseReadStream(self); });
        } else {
            shouldDisconnect = true;
        }
    } else {
        shouldDisconnect = true;
    }

    if (!shouldDisconnect) {
        suspendReadSource();
        return;
    }
    if (!error) {
        if ((flags_ & kSocketSecure) && sslErrCode_ != tls::noErr && sslErrCode_ != tls::errSSLClosedGraceful)
            error = socket_errors::sslError(sslErrCode_);
        else
            error = socket_errors::connectionClosedError();
    }
    closeWithError(error);
}

void GCDAsyncSocket::completeCurrentRead() {
    GCDAsyncReadPacket* packet = currentReadPacket();
    if (!packet) socketProgrammingError("Trying to complete current read when there is no current read.");
    Bytes result;
    if (packet->bufferOwner) {
        packet->buffer->resize(packet->bytesDone);
        result = std::move(*packet->buffer);
    } else {
        const size_t readSize = packet->startOffset + packet->bytesDone;
        if (packet->buffer->size() > packet->originalBufferLength)
            packet->buffer->resize(std::max(readSize, packet->originalBufferLength));
        auto begin = packet->buffer->begin() + long(packet->startOffset);
        result.assign(begin, begin + long(packet->bytesDone));
    }
    GCDAsyncSocketPtr self = shared_from_this();
    std::shared_ptr<GCDAsyncSocketDelegate> delegate = delegate_.lock();
    if (!delegate || !delegate->socketTakesReadOnSocketQueue(self, result, packet->tag)) {
        notifyDelegate([self, data = std::move(result), tag = packet->tag](GCDAsyncSocketDelegate& d) {
            d.socketDidReadData(self, data, tag);
        });
    } else if (delegate.use_count() == 1 && delegateQueue_) {
        // Its owner let it go meanwhile: it ends on its own queue, not on this one.
        delegateQueue_->async([delegate = std::move(delegate)] {});
    }
    endCurrentRead();
    preBuffer_.shrinkIfEmpty();
}

// ---------------------------------------------------------------------------------------------
// Writing

void GCDAsyncSocket::writeData(Bytes data, double timeout, long tag) {
    writeData(std::make_shared<const Bytes>(std::move(data)), timeout, tag);
}

void GCDAsyncSocket::writeData(std::shared_ptr<const Bytes> data, double timeout, long tag) {
    if (!data || data->empty()) return;
    queuePacket(std::make_shared<GCDAsyncWritePacket>(std::move(data), timeout, tag));
}

void GCDAsyncSocket::doWriteData() {
    if (!currentWrite_ || (flags_ & kWritesPaused)) {
        if (flags_ & kSocketCanAcceptBytes) suspendWriteSource();
        return;
    }
    if (!(flags_ & kSocketCanAcceptBytes)) {
        resumeWriteSource();
        return;
    }
    if (flags_ & kStartingWriteTLS) {
        if ((flags_ & kStartingReadTLS) && lastSSLHandshakeError_ == tls::errSSLWouldBlock) ssl_continueSSLHandshake();
        else if (!(flags_ & kStartingReadTLS)) suspendWriteSource();
        return;
    }
    GCDAsyncWritePacket* packet = currentWritePacket();
    if (!packet) return;

    bool waiting = false;
    ErrorPtr error;
    size_t bytesWritten = 0;
    bool done = false;
    const Bytes& data = *packet->buffer;

    if (flags_ & kSocketSecure) {
        if (sslWriteCachedLength_ > 0) {
            size_t processed = 0;
            int32_t result = sslContext_->write(nullptr, 0, &processed);
            if (result == tls::noErr) {
                bytesWritten = sslWriteCachedLength_;
                sslWriteCachedLength_ = 0;
                if (data.size() == packet->bytesDone + bytesWritten) done = true;
            } else if (result == tls::errSSLWouldBlock) {
                waiting = true;
            } else {
                error = socket_errors::sslError(result);
            }
        }
        if (!done && !waiting && !error) {
            size_t offset = packet->bytesDone + bytesWritten;
            while (offset < data.size()) {
                const size_t chunk = std::min(kTLSWriteChunk, data.size() - offset);
                size_t processed = 0;
                int32_t result = sslContext_->write(data.data() + offset, chunk, &processed);
                if (result == tls::errSSLWouldBlock) {
                    waiting = true;
                    sslWriteCachedLength_ = chunk;  // taken by the session, still to go out
                    break;
                }
                if (result != tls::noErr) {
                    error = socket_errors::sslError(result);
                    break;
                }
                bytesWritten += processed;
                offset += processed;
            }
        }
    } else {
        const size_t bytesToWrite = data.size() - packet->bytesDone;
        ssize_t result = ::send(connectionFD(), data.data() + packet->bytesDone, bytesToWrite, MSG_NOSIGNAL);
        if (result < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) waiting = true;
            else error = socket_errors::errnoErrorWithReason("Error in write() function");
        } else {
            bytesWritten = size_t(result);
        }
    }

    if (waiting) {
        flags_ &= ~kSocketCanAcceptBytes;
        resumeWriteSource();
    }
    if (bytesWritten > 0) {
        packet->bytesDone += bytesWritten;
        done = packet->bytesDone == data.size();
    }
    if (done) {
        completeCurrentWrite();
        if (!error) socketQueue_->async([self = shared_from_this()] { self->maybeDequeueWrite(); });
    } else {
        if (!waiting && !error) {
            flags_ &= ~kSocketCanAcceptBytes;
            resumeWriteSource();
        }
        if (bytesWritten > 0) {
            GCDAsyncSocketPtr self = shared_from_this();
            notifyDelegate([self, bytesWritten, tag = packet->tag](GCDAsyncSocketDelegate& d) {
                d.socketDidWritePartialDataOfLength(self, bytesWritten, tag);
            }, &GCDAsyncSocketDelegate::respondsToWriteReports);
        }
    }
    if (error) closeWithError(error);
}

void GCDAsyncSocket::completeCurrentWrite() {
    GCDAsyncWritePacket* packet = currentWritePacket();
    if (!packet) socketProgrammingError("Trying to complete current write when there is no current write.");
    GCDAsyncSocketPtr self = shared_from_this();
    notifyDelegate([self, tag = packet->tag](GCDAsyncSocketDelegate& d) { d.socketDidWriteDataWithTag(self, tag); },
                   &GCDAsyncSocketDelegate::respondsToWriteReports);
    endCurrentWrite();
}

// ---------------------------------------------------------------------------------------------
// Time limits and progress: each direction's operations, over steps they share

void GCDAsyncSocket::endCurrentRead() {
    readDeadline_.due = kNoDeadline;
    currentRead_.reset();
}
void GCDAsyncSocket::endCurrentWrite() {
    writeDeadline_.due = kNoDeadline;
    if (auto packet = packetOf<GCDAsyncWritePacket>(currentWrite_); packet && packet->buffer)
        writeBacklog_ -= std::min(writeBacklog_, packet->buffer->size());
    currentWrite_.reset();
    if (readWaitsForWrites_ && writeBacklog_ <= maximumWriteBacklog_) {
        readWaitsForWrites_ = false;
        socketQueue_->async([self = shared_from_this()] { self->maybeDequeueRead(); });
    }
}

void GCDAsyncSocket::dropQueuedReadsAndWrites() {
    readQueue_.clear();
    writeQueue_.clear();
    writeBacklog_ = 0;
    readWaitsForWrites_ = false;
}

void GCDAsyncSocket::setMaximumWriteBacklog(size_t bytes) {
    runAsync([this, bytes] {
        maximumWriteBacklog_ = bytes;
        if (readWaitsForWrites_ && (bytes == 0 || writeBacklog_ <= bytes)) {
            readWaitsForWrites_ = false;
            maybeDequeueRead();
        }
    });
}
void GCDAsyncSocket::setupReadTimerWithTimeout(double timeout) {
    if (timeout >= 0) armDeadline(&GCDAsyncSocket::readDeadline_, timeout, &GCDAsyncSocket::doReadTimeout);
}
void GCDAsyncSocket::setupWriteTimerWithTimeout(double timeout) {
    if (timeout >= 0) armDeadline(&GCDAsyncSocket::writeDeadline_, timeout, &GCDAsyncSocket::doWriteTimeout);
}
void GCDAsyncSocket::doReadTimeout() {
    if (auto current = packetOf<GCDAsyncReadPacket>(currentRead_)) askForExtension(true, current);
}
void GCDAsyncSocket::doWriteTimeout() {
    if (auto current = packetOf<GCDAsyncWritePacket>(currentWrite_)) askForExtension(false, current);
}
void GCDAsyncSocket::doReadTimeoutWithExtension(double extension) { applyExtension(true, extension); }
void GCDAsyncSocket::doWriteTimeoutWithExtension(double extension) { applyExtension(false, extension); }
float GCDAsyncSocket::progressOfReadReturningTag(long* tag, size_t* done, size_t* total) const {
    return progress(true, tag, done, total);
}
float GCDAsyncSocket::progressOfWriteReturningTag(long* tag, size_t* done, size_t* total) const {
    return progress(false, tag, done, total);
}

float GCDAsyncSocket::progress(bool read, long* tag, size_t* done, size_t* total) const {
    float result = NAN;
    runSync([&] {
        long t = 0;
        size_t d = 0, n = 0;
        if (const GCDAsyncReadPacket* packet = read ? currentReadPacket() : nullptr) {
            t = packet->tag, d = packet->bytesDone, n = packet->readLength;
            // A read of no fixed length counts as complete at every step.
            result = n > 0 ? float(double(d) / double(n)) : 1.0f;
        } else if (const GCDAsyncWritePacket* packet = read ? nullptr : currentWritePacket()) {
            t = packet->tag, d = packet->bytesDone, n = packet->buffer->size();
            result = float(double(d) / double(n));
        }
        if (tag) *tag = t;
        if (done) *done = d;
        if (total) *total = n;
    });
    return result;
}

// Deadlines

void GCDAsyncSocket::armDeadline(Deadline GCDAsyncSocket::*which, double seconds, void (GCDAsyncSocket::*expired)()) {
    Deadline& deadline = this->*which;
    const int64_t now = Clock::monotonicNanos();
    const int64_t delay = Clock::toNanos(std::isnan(seconds) ? 0.0 : std::max(0.0, seconds));
    deadline.due = delay >= Clock::kForeverNanos ? kNoDeadline : Clock::addNanos(now, delay);
    // A timer armed for an earlier moment moves on to this one when it fires.
    if (deadline.due >= deadline.armed) return;
    if (!deadline.timer) {
        deadline.timer = Source::createTimer(socketQueue_);
        std::weak_ptr<GCDAsyncSocket> weakSelf = weak_from_this();
        std::weak_ptr<Source> weakTimer = deadline.timer;
        deadline.timer->setEventHandler([weakSelf, weakTimer, which, expired] {
            auto self = weakSelf.lock();
            auto timer = weakTimer.lock();
            if (self && timer && !timer->isCancelled()) self->deadlineFired(which, expired);
        });
        deadline.timer->resume();
    }
    deadline.armed = deadline.due;
    deadline.timer->scheduleAfter(Clock::toSeconds(deadline.due - now), 0, 0);
}

void GCDAsyncSocket::deadlineFired(Deadline GCDAsyncSocket::*which, void (GCDAsyncSocket::*expired)()) {
    Deadline& deadline = this->*which;
    deadline.armed = kNoDeadline;
    if (deadline.due == kNoDeadline) return;  // that read (write) has ended
    const int64_t now = Clock::monotonicNanos();
    if (deadline.due > now) {
        deadline.armed = deadline.due;
        deadline.timer->scheduleAfter(Clock::toSeconds(deadline.due - now), 0, 0);
        return;
    }
    deadline.due = kNoDeadline;
    (this->*expired)();
}

void GCDAsyncSocket::dropDeadline(Deadline& deadline) {
    if (deadline.timer) deadline.timer->cancel();
    deadline = Deadline();
}

void GCDAsyncSocket::applyExtension(bool read, double extension) {
    double* limit = nullptr;
    if (read && currentReadPacket()) limit = &currentReadPacket()->timeout;
    if (!read && currentWritePacket()) limit = &currentWritePacket()->timeout;
    if (!limit) return;
    if (extension <= 0) {
        closeWithError(read ? socket_errors::readTimeoutError() : socket_errors::writeTimeoutError());
        return;
    }
    *limit += extension;
    if (read) armDeadline(&GCDAsyncSocket::readDeadline_, extension, &GCDAsyncSocket::doReadTimeout);
    else armDeadline(&GCDAsyncSocket::writeDeadline_, extension, &GCDAsyncSocket::doWriteTimeout);
    flags_ &= ~(read ? kReadsPaused : kWritesPaused);
    read ? doReadData() : doWriteData();
}

template <class Packet>
void GCDAsyncSocket::askForExtension(bool read, const std::shared_ptr<Packet>& current) {
    flags_ |= read ? kReadsPaused : kWritesPaused;
    std::shared_ptr<GCDAsyncSocketDelegate> delegate = delegate_.lock();
    if (!delegate || !delegateQueue_) {
        read ? doReadTimeoutWithExtension(0) : doWriteTimeoutWithExtension(0);
        return;
    }
    GCDAsyncSocketPtr self = shared_from_this();
    const long tag = current->tag;
    const double elapsed = current->timeout;
    const size_t bytesDone = current->bytesDone;
    delegateQueue_->async([delegate, self, current, read, tag, elapsed, bytesDone] {
        const double extension =
            (read ? delegate->socketShouldTimeoutReadWithTag(self, tag, elapsed, bytesDone)
                  : delegate->socketShouldTimeoutWriteWithTag(self, tag, elapsed, bytesDone))
                .value_or(0);
        self->socketQueue_->async([self, current, read, extension] {
            // An answer for a read (write) that has finished meanwhile is ignored.
            if (read && self->currentReadPacket() == static_cast<const void*>(current.get()))
                self->doReadTimeoutWithExtension(extension);
            else if (!read && self->currentWritePacket() == static_cast<const void*>(current.get()))
                self->doWriteTimeoutWithExtension(extension);
        });
    });
}

}  // namespace telvo
