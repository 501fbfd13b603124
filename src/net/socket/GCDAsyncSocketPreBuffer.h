#pragma once
// The socket's pre-buffer: bytes read from the descriptor (or the TLS session) beyond what the
// current read needs. A straight buffer, not a ring: it rewinds to the start when drained.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvo {

class GCDAsyncSocketPreBuffer {
public:
    explicit GCDAsyncSocketPreBuffer(size_t capacity);

    // Makes room for `length` more bytes after the write position (grows by the shortfall).
    void ensureCapacityForWrite(size_t length);

    size_t availableBytes() const { return writePointer_ - readPointer_; }
    const uint8_t* readBuffer() const { return storage_.data() + readPointer_; }
    void getReadBuffer(const uint8_t** buffer, size_t* available) const;
    // Consumes `length` bytes from the front; an emptied buffer rewinds to the start.
    void didRead(size_t length);

    size_t availableSpace() const { return storage_.size() - writePointer_; }
    uint8_t* writeBuffer() { return storage_.data() + writePointer_; }
    void getWriteBuffer(uint8_t** buffer, size_t* space);
    // Appends `length` bytes that the caller placed at writeBuffer().
    void didWrite(size_t length);

    void reset() { readPointer_ = writePointer_ = 0; }
    size_t capacity() const { return storage_.size(); }
    // Gives back what a large message made it grow to: an empty buffer returns to the
    // capacity it was created with.
    void shrinkIfEmpty();

private:
    size_t initialCapacity_;
    std::vector<uint8_t> storage_;
    size_t readPointer_ = 0;
    size_t writePointer_ = 0;
};

}  // namespace telvo
