// Framing of control-socket dictionaries.
#include "net/unixsocket/GDUnixSocketFrame.h"

#include <cstring>
#include "platform/values/PropertyList.h"

namespace telvo {

std::string GDUnixSocketEncodeFrame(const Value& dictionary) {
    return plist::serialize(dictionary) + kGDUnixSocketTerminator;
}

std::vector<Value> GDUnixSocketFrameDecoder::feed(const char* bytes, size_t length) {
    std::vector<Value> out;
    if (failed_) return out;
    buffer_.append(bytes, length);
    const size_t termLength = std::strlen(kGDUnixSocketTerminator);
    for (;;) {
        size_t at = buffer_.find(kGDUnixSocketTerminator, scanFrom_);
        if (at == std::string::npos) {
            // The terminator may begin in the last bytes; scan them again next time.
            scanFrom_ = buffer_.size() >= termLength ? buffer_.size() - termLength + 1 : 0;
            break;
        }
        std::string frame = buffer_.substr(0, at);
        buffer_.erase(0, at + termLength);
        scanFrom_ = 0;
        ErrorPtr error;
        Value v = plist::parse(frame, &error);
        if (v.isDictionary())
            out.push_back(std::move(v));
        else
            ++dropped_;
    }
    if (buffer_.size() > limit_) {
        failed_ = true;
        buffer_.clear();
        buffer_.shrink_to_fit();
        scanFrom_ = 0;
    }
    return out;
}

}  // namespace telvo
