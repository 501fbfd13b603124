#include "net/socket/GCDAsyncReadPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace telvo {

void socketProgrammingError(const char* text) {
    std::fprintf(stderr, "GCDAsyncSocket: %s\n", text);
    std::abort();
}

GCDAsyncReadPacket::GCDAsyncReadPacket(std::shared_ptr<Bytes> data, size_t offset, size_t maxLen, double t,
                                       size_t length, const Bytes& terminator, long aTag)
    : startOffset(offset), maxLength(maxLen), timeout(t), readLength(length), term(terminator), tag(aTag) {
    if (data) {
        buffer = std::move(data);
        bufferOwner = false;
        originalBufferLength = buffer->size();
    } else {
        buffer = std::make_shared<Bytes>(readLength, 0);
        startOffset = 0;
        bufferOwner = true;
        originalBufferLength = 0;
    }
}

void GCDAsyncReadPacket::ensureCapacityForAdditionalDataOfLength(size_t length) {
    size_t spare = spareRoom();
    if (length > spare) buffer->resize(buffer->size() + (length - spare));
}

size_t GCDAsyncReadPacket::optimalReadLengthWithDefault(size_t defaultValue, bool* shouldPreBuffer) const {
    size_t result;
    if (readLength > 0) {
        result = std::min(defaultValue, readLength - bytesDone);
        if (shouldPreBuffer) *shouldPreBuffer = false;
        return result;
    }
    result = defaultValue;
    if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
    if (shouldPreBuffer) *shouldPreBuffer = spareRoom() < result;
    return result;
}

size_t GCDAsyncReadPacket::readLengthForNonTermWithHint(size_t bytesAvailable) const {
    if (hasTerm()) socketProgrammingError("This method does not apply to term reads");
    if (bytesAvailable == 0) socketProgrammingError("Invalid parameter: bytesAvailable");
    if (readLength > 0) return std::min(readLength - bytesDone, bytesAvailable);
    size_t result = bytesAvailable;
    if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
    return result;
}

size_t GCDAsyncReadPacket::readLengthForTermWithHint(size_t bytesAvailable, bool* shouldPreBuffer) const {
    if (!hasTerm()) socketProgrammingError("This method does not apply to non-term reads");
    if (bytesAvailable == 0) socketProgrammingError("Invalid parameter: bytesAvailable");
    size_t result = bytesAvailable;
    if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
    if (shouldPreBuffer) *shouldPreBuffer = spareRoom() < result;
    return result;
}

size_t GCDAsyncReadPacket::readLengthForTermWithPreBuffer(const GCDAsyncSocketPreBuffer& preBuffer,
                                                          bool* found) const {
    if (!hasTerm()) socketProgrammingError("This method does not apply to non-term reads");
    const size_t available = preBuffer.availableBytes();
    if (available == 0) socketProgrammingError("Invoked with empty pre buffer!");
    const size_t termLength = term.size();
    if (bytesDone + available < termLength) return available;

    size_t maxPreBufferLength = available;
    if (maxLength > 0 && maxLength - bytesDone < maxPreBufferLength) maxPreBufferLength = maxLength - bytesDone;

    const uint8_t* pre = preBuffer.readBuffer();
    const uint8_t* done = buffer->data() + startOffset + bytesDone;  // end of the bytes read

    // Alignments where the terminator starts in the bytes already read.
    size_t preLength = std::min(bytesDone, termLength - 1);
    // Scratch of T bytes on the stack for the usual short terminators, else on the heap.
    uint8_t small[64];
    std::unique_ptr<uint8_t[]> large;
    uint8_t* scratch = small;
    if (termLength > sizeof small) {
        large.reset(new uint8_t[termLength]);
        scratch = large.get();
    }
    while (preLength > 0) {
        size_t fromPre = termLength - preLength;
        if (fromPre <= maxPreBufferLength) {
            std::memcpy(scratch, done - preLength, preLength);
            std::memcpy(scratch + preLength, pre, fromPre);
            if (std::memcmp(scratch, term.data(), termLength) == 0) {
                *found = true;
                return fromPre;
            }
        }
        --preLength;
    }
    // Alignments wholly inside the pre-buffer.
    for (size_t j = 0; j + termLength <= maxPreBufferLength; ++j) {
        if (std::memcmp(pre + j, term.data(), termLength) == 0) {
            *found = true;
            return j + termLength;
        }
    }
    return maxPreBufferLength;
}

int64_t GCDAsyncReadPacket::searchForTermAfterPreBuffering(size_t numBytes) const {
    if (!hasTerm()) socketProgrammingError("This method does not apply to non-term reads");
    const size_t termLength = term.size();
    const uint8_t* base = buffer->data() + startOffset;
    const size_t total = bytesDone + numBytes;
    size_t i = bytesDone + 1 > termLength ? bytesDone + 1 - termLength : 0;
    for (; i + termLength <= total; ++i) {
        if (std::memcmp(base + i, term.data(), termLength) == 0) return int64_t(total - (i + termLength));
    }
    return -1;
}

}  // namespace telvo
