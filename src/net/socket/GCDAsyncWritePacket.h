#pragma once
// One queued write of the socket: the caller's bytes (shared, never copied), the count sent so
// far, the tag handed back and the time limit.
#include <cstddef>
#include <memory>
#include "platform/values/Value.h"

namespace telvo {

struct GCDAsyncWritePacket {
    GCDAsyncWritePacket(std::shared_ptr<const Bytes> data, double t, long aTag)
        : buffer(std::move(data)), timeout(t), tag(aTag) {}
    std::shared_ptr<const Bytes> buffer;
    size_t bytesDone = 0;
    double timeout = -1;
    long tag = 0;
};

}  // namespace telvo
