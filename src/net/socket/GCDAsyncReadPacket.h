#pragma once
// One queued read of the socket: a terminator read, a read of a fixed length, or a read of
// whatever is available (optionally bounded), with the arithmetic that decides how many bytes
// to take and where a terminator ends across the bytes read and the pre-buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include "net/socket/GCDAsyncSocketPreBuffer.h"
#include "platform/values/Value.h"

namespace telvo {

class GCDAsyncReadPacket {
public:
    // `data` is the caller's growable buffer or null (the packet then owns a new one of
    // `readLength` zero bytes). `term` empty means no terminator.
    GCDAsyncReadPacket(std::shared_ptr<Bytes> data, size_t startOffset, size_t maxLength, double timeout,
                       size_t readLength, const Bytes& term, long tag);

    void ensureCapacityForAdditionalDataOfLength(size_t length);
    size_t optimalReadLengthWithDefault(size_t defaultValue, bool* shouldPreBuffer) const;
    size_t readLengthForNonTermWithHint(size_t bytesAvailable) const;
    size_t readLengthForTermWithHint(size_t bytesAvailable, bool* shouldPreBuffer) const;
    size_t readLengthForTermWithPreBuffer(const GCDAsyncSocketPreBuffer& preBuffer, bool* found) const;
    int64_t searchForTermAfterPreBuffering(size_t numBytes) const;

    bool hasTerm() const { return !term.empty(); }
    // Room in the buffer after the bytes done.
    size_t spareRoom() const { return buffer->size() - startOffset - bytesDone; }
    uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }

    std::shared_ptr<Bytes> buffer;
    size_t startOffset = 0;
    size_t bytesDone = 0;
    size_t maxLength = 0;
    double timeout = -1;
    size_t readLength = 0;
    Bytes term;
    bool bufferOwner = true;
    size_t originalBufferLength = 0;
    long tag = 0;
};

// A programming error inside the socket: logs the text and stops the program.
[[noreturn]] void socketProgrammingError(const char* text);

}  // namespace telvo
