#include "net/socket/GCDAsyncSocketPreBuffer.h"

namespace telvo {

GCDAsyncSocketPreBuffer::GCDAsyncSocketPreBuffer(size_t capacity) : initialCapacity_(capacity), storage_(capacity) {}

void GCDAsyncSocketPreBuffer::shrinkIfEmpty() {
    if (availableBytes() != 0 || storage_.size() <= initialCapacity_) return;
    std::vector<uint8_t>(initialCapacity_).swap(storage_);
    reset();
}

void GCDAsyncSocketPreBuffer::ensureCapacityForWrite(size_t length) {
    size_t space = availableSpace();
    if (length > space) storage_.resize(storage_.size() + (length - space));
}

void GCDAsyncSocketPreBuffer::getReadBuffer(const uint8_t** buffer, size_t* available) const {
    if (buffer) *buffer = readBuffer();
    if (available) *available = availableBytes();
}

void GCDAsyncSocketPreBuffer::didRead(size_t length) {
    readPointer_ += length;
    if (readPointer_ >= writePointer_) reset();
}

void GCDAsyncSocketPreBuffer::getWriteBuffer(uint8_t** buffer, size_t* space) {
    if (buffer) *buffer = writeBuffer();
    if (space) *space = availableSpace();
}

void GCDAsyncSocketPreBuffer::didWrite(size_t length) { writePointer_ += length; }

}  // namespace telvo
