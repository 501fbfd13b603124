// Length-prefixed property-list messages.
#include "platform/xpc/Message.h"

#include "platform/values/PropertyList.h"

namespace telvo::xpc {

namespace {
constexpr int64_t kMaxArguments = 64;
}

std::string encodeMessage(const Value& dictionary) {
    std::string body = plist::serialize(dictionary);
    uint32_t n = uint32_t(body.size());
    std::string out;
    out.reserve(body.size() + 4);
    out.push_back(char((n >> 24) & 0xff));
    out.push_back(char((n >> 16) & 0xff));
    out.push_back(char((n >> 8) & 0xff));
    out.push_back(char(n & 0xff));
    out += body;
    return out;
}

Value packArguments(const ValueArray& arguments) {
    Value packed;
    packed.set("count", Value(static_cast<long long>(arguments.size())));
    for (size_t i = 0; i < arguments.size(); ++i)
        if (!arguments[i].isNull()) packed.set(std::to_string(i), arguments[i]);
    return packed;
}

bool unpackArguments(const Value& packed, ValueArray& out) {
    out.clear();
    if (!packed.isDictionary() || !packed["count"].isInteger()) return false;
    int64_t count = packed["count"].intValue();
    if (count < 0 || count > kMaxArguments) return false;
    for (int64_t i = 0; i < count; ++i) out.push_back(packed[std::to_string(i)]);
    return true;
}

std::vector<Value> MessageDecoder::feed(const char* bytes, size_t length) {
    std::vector<Value> out;
    if (failed_) return out;
    buffer_.append(bytes, length);
    size_t at = 0;
    while (buffer_.size() - at >= 4) {
        const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data() + at);
        size_t n = (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | size_t(p[3]);
        if (n > kMaxMessageSize) {
            failed_ = true;
            buffer_.clear();
            return out;
        }
        if (buffer_.size() - at - 4 < n) break;
        Value v = plist::parse(buffer_.substr(at + 4, n));
        if (v.isDictionary())
            out.push_back(std::move(v));
        else
            ++dropped_;
        at += 4 + n;
    }
    buffer_.erase(0, at);
    return out;
}

}  // namespace telvo::xpc
