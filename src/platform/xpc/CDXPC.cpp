#include "platform/xpc/CDXPC.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include "platform/systemlog/SystemLog.h"

namespace telvo::xpc {

namespace {

void logUnsupported(const Object& object) { SystemLog("Unsupported XPC object '%s'.", object.description()); }

constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Whole seconds and the fraction apart, so that an instant a double holds exactly (a quarter
// second, say) comes back as the same double.
int64_t nanosecondsOf(double seconds) {
    if (!(seconds == seconds)) return 0;  // NaN
    if (seconds >= 9.2233720368e9) return std::numeric_limits<int64_t>::max();
    if (seconds <= -9.2233720368e9) return std::numeric_limits<int64_t>::min();
    double whole = std::floor(seconds);
    int64_t fraction = int64_t(std::llround((seconds - whole) * 1e9));
    return int64_t(whole) * kNanosecondsPerSecond + fraction;
}

double secondsOf(int64_t nanoseconds) {
    int64_t whole = nanoseconds / kNanosecondsPerSecond;
    int64_t rest = nanoseconds % kNanosecondsPerSecond;
    if (rest < 0) {
        rest += kNanosecondsPerSecond;
        whole -= 1;
    }
    return double(whole) + double(rest) / 1e9;
}

}  // namespace

bool isValidUTF8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
            code = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            code = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xc0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3f);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10ffff))) return false;
        if (code >= 0xd800 && code <= 0xdfff) return false;
        i += length;
    }
    return true;
}

Object XPCObject(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null: return Object::null();
        case Value::Type::Boolean: return Object::boolean(value.boolValue());
        case Value::Type::Integer: return Object::int64(value.intValue());
        case Value::Type::Double: return Object::real(value.doubleValue());
        case Value::Type::String: return Object::string(value.string());
        case Value::Type::Data: return Object::data(value.bytes());
        case Value::Type::Date: return Object::date(nanosecondsOf(value.date().seconds));
        case Value::Type::Array: {
            Object out = Object::array();
            for (const Value& element : value.array()) out.append(XPCObject(element));
            return out;
        }
        case Value::Type::Dictionary: {
            Object out = Object::dictionary();
            for (const auto& [key, element] : value.dictionary()) out.set(key, XPCObject(element));
            return out;
        }
    }
    return Object::null();
}

std::optional<Value> dataWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::Data) return std::nullopt;
    return Value(object.dataValue());
}

std::optional<Value> numberWithXPCObject(const Object& object) {
    switch (object.type()) {
        case Object::Type::Bool: return Value(object.boolValue());
        case Object::Type::Double: return Value(object.doubleValue());
        case Object::Type::Int64: return Value(object.int64Value());
        case Object::Type::UInt64: {
            uint64_t u = object.uint64Value();
            if (u > uint64_t(std::numeric_limits<int64_t>::max())) return Value(double(u));
            return Value(int64_t(u));
        }
        default: return std::nullopt;
    }
}

std::optional<Value> arrayWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::Array) return std::nullopt;
    ValueArray out;
    out.reserve(object.count());
    for (const Object& element : object.arrayValue()) {
        std::optional<Value> converted = valueWithXPCObject(element);
        if (converted) out.push_back(std::move(*converted));
    }
    return Value(std::move(out));
}

std::optional<Value> nullWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::Null) return std::nullopt;
    return Value();
}

std::optional<Value> stringWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::String || !isValidUTF8(object.stringValue())) return std::nullopt;
    return Value(object.stringValue());
}

std::optional<Value> dateWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::Date) return std::nullopt;
    return Value::dateFromSeconds(secondsOf(object.dateValue()));
}

std::optional<Value> dictionaryWithXPCObject(const Object& object) {
    if (object.type() != Object::Type::Dictionary) return std::nullopt;
    ValueDictionary out;
    for (const auto& [key, element] : object.dictionaryValue()) {
        // Keys are text: one that is not UTF-8 is left out, as no string can hold it.
        if (!isValidUTF8(key)) {
            logUnsupported(Object::string(key));
            continue;
        }
        std::optional<Value> converted = valueWithXPCObject(element);
        out[key] = converted ? std::move(*converted) : Value();
    }
    return Value(std::move(out));
}

std::optional<Value> valueWithXPCObject(const Object& object) {
    std::optional<Value> out;
    switch (object.type()) {
        case Object::Type::Array: out = arrayWithXPCObject(object); break;
        case Object::Type::Bool:
        case Object::Type::Double:
        case Object::Type::Int64:
        case Object::Type::UInt64: out = numberWithXPCObject(object); break;
        case Object::Type::Data: out = dataWithXPCObject(object); break;
        case Object::Type::Date: out = dateWithXPCObject(object); break;
        case Object::Type::Dictionary: out = dictionaryWithXPCObject(object); break;
        case Object::Type::Null: out = nullWithXPCObject(object); break;
        case Object::Type::String: out = stringWithXPCObject(object); break;
        case Object::Type::UUID: break;
    }
    if (!out) logUnsupported(object);
    return out;
}

}  // namespace telvo::xpc
