// The control socket's frame decoder: the input arrives in pieces of a size taken from its
// first byte, as reads of that many bytes would bring it. Every dictionary decoded must encode
// again into exactly one frame that decodes into one dictionary.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include "net/unixsocket/GDUnixSocketFrame.h"

using namespace telvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t piece = size_t(data[0]) + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size -= 1;
    GDUnixSocketFrameDecoder decoder(1 << 16);
    for (size_t at = 0; at < size && !decoder.failed(); at += piece) {
        size_t n = size - at < piece ? size - at : piece;
        for (const Value& frame : decoder.feed(bytes + at, n)) {
            if (!frame.isDictionary()) std::abort();
            std::string again = GDUnixSocketEncodeFrame(frame);
            GDUnixSocketFrameDecoder check;
            auto decoded = check.feed(again.data(), again.size());
            if (decoded.size() != 1 || check.pendingBytes() != 0 || check.droppedFrames() != 0) std::abort();
        }
    }
    if (!decoder.failed() && decoder.pendingBytes() > (1 << 16)) std::abort();
    return 0;
}
