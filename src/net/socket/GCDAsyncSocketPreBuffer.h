#pragma once
// The socket's pre-buffer: bytes read from the descriptor (or the TLS session) beyond what the
// current read needs. A straight buffer, not a ring: it rewinds to the start when drained.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
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
    // Room made for a read is written by the read before anyone looks at it: growing leaves
    // it as it is rather than filling it with zeros (a TLS read makes room for 32768 bytes
    // at every message).
    template <class T>
    struct UninitialisedAllocator : std::allocator<T> {
        template <class U>
        struct rebind {
            using other = UninitialisedAllocator<U>;
        };
        UninitialisedAllocator() = default;
        template <class U>
        UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
        template <class U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <class U, class... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };

    size_t initialCapacity_;
    std::vector<uint8_t, UninitialisedAllocator<uint8_t>> storage_;
    size_t readPointer_ = 0;
    size_t writePointer_ = 0;
};

}  // namespace telvo
