#pragma once
// The frame of the control socket: one dictionary as an XML property list, followed by the
// seven bytes "</term>". The property list escapes every "<" inside text and writes data in
// base64, so the terminator never occurs inside a frame and any value round-trips.
#include <cstddef>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo {

constexpr const char* kGDUnixSocketTerminator = "</term>";

// The bytes of one frame.
std::string GDUnixSocketEncodeFrame(const Value& dictionary);

// Collects received bytes and cuts them into frames. A frame that is no property-list
// dictionary is dropped and counted; bytes that grow past the limit without a terminator put
// the decoder in the failed state (the connection is then closed), dropping them.
class GDUnixSocketFrameDecoder {
public:
    static constexpr size_t kDefaultLimit = 1 << 20;

    explicit GDUnixSocketFrameDecoder(size_t limit = kDefaultLimit) : limit_(limit) {}

    // Appends bytes and answers the dictionaries completed by them, in order.
    std::vector<Value> feed(const char* bytes, size_t length);

    bool failed() const { return failed_; }
    size_t droppedFrames() const { return dropped_; }
    size_t pendingBytes() const { return buffer_.size(); }

private:
    size_t limit_;
    std::string buffer_;
    size_t scanFrom_ = 0;
    size_t dropped_ = 0;
    bool failed_ = false;
};

}  // namespace telvo
