// Conversions, description text and copy-on-write containers of Value.
#include "platform/values/Value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace telvo {

namespace {

const std::string kEmptyString;
const Bytes kEmptyBytes;
const ValueArray kEmptyArray;
const ValueDictionary kEmptyDictionary;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

size_t skipBlanks(const std::string& s, size_t i = 0) {
    while (i < s.size() && isBlank(s[i])) ++i;
    return i;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal integer at the start of the text after blanks (optional sign), clamped to the
// 64-bit range; 0 when there is none.
int64_t leadingInteger(const std::string& s) {
    size_t i = skipBlanks(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that INT64_MIN is representable.
    int64_t value = 0;
    bool overflow = false;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        int d = s[i] - '0';
        if (!overflow) {
            if (value < (std::numeric_limits<int64_t>::min() + d) / 10) {
                overflow = true;
            } else {
                value = value * 10 - d;
            }
        }
    }
    if (overflow) return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (negative) return value;
    if (value == std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::max();
    return -value;
}

// The decimal floating-point number at the start of the text after blanks; 0 when there is
// none. Independent of the C locale; no hexadecimal, infinity or NaN forms.
double leadingDouble(const std::string& s) {
    size_t i = skipBlanks(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    size_t numberStart = i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) ++j;
            i = j;
        }
    }
    double value = 0;
    auto result = std::from_chars(s.data() + numberStart, s.data() + i, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow gives infinity, underflow zero, as strtod would.
        bool tiny = false;
        size_t k = numberStart;
        // A negative exponent means underflow.
        for (; k < i; ++k) {
            if ((s[k] == 'e' || s[k] == 'E') && k + 1 < i && s[k + 1] == '-') tiny = true;
        }
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
        return 0;
    }
    return negative ? -value : value;
}

int64_t doubleToInteger(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return int64_t(d);
}

// Shortest text that reads back as the same double ("0.1", "3", "1e+20").
std::string doubleText(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    return std::string(buffer, result.ptr);
}

std::string dateText(double seconds) {
    if (!std::isfinite(seconds)) return doubleText(seconds);
    time_t t = time_t(std::floor(seconds));
    struct tm tm {};
    if (!gmtime_r(&t, &tm)) return doubleText(seconds);
    char buffer[64];
    strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buffer;
}

// Strings inside an array or dictionary description are quoted unless made of plain word
// characters, as the old-style property-list text writes them.
std::string quotedIfNeeded(const std::string& s) {
    bool plain = !s.empty();
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' || c == '-')) {
            plain = false;
            break;
        }
    }
    if (plain) return s;
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    out += '"';
    return out;
}

void describe(const Value& value, int level, bool nested, std::string& out) {
    const std::string indent(size_t(level) * 4, ' ');
    const std::string inner(size_t(level + 1) * 4, ' ');
    switch (value.type()) {
        case Value::Type::String:
            out += nested ? quotedIfNeeded(value.string()) : value.string();
            return;
        case Value::Type::Array: {
            const ValueArray& a = value.array();
            out += "(\n";
            for (size_t i = 0; i < a.size(); ++i) {
                out += inner;
                describe(a[i], level + 1, true, out);
                if (i + 1 < a.size()) out += ',';
                out += '\n';
            }
            out += indent + ")";
            return;
        }
        case Value::Type::Dictionary: {
            out += "{\n";
            for (const auto& [key, item] : value.dictionary()) {
                out += inner + quotedIfNeeded(key) + " = ";
                describe(item, level + 1, true, out);
                out += ";\n";
            }
            out += indent + "}";
            return;
        }
        default:
            out += value.description();
    }
}

}  // namespace

int64_t Value::intValue() const {
    switch (type()) {
        case Type::Boolean: return std::get<bool>(v_) ? 1 : 0;
        case Type::Integer: return std::get<int64_t>(v_);
        case Type::Double: return doubleToInteger(std::get<double>(v_));
        case Type::String: return leadingInteger(std::get<std::string>(v_));
        default: return 0;
    }
}

double Value::doubleValue() const {
    switch (type()) {
        case Type::Boolean: return std::get<bool>(v_) ? 1 : 0;
        case Type::Integer: return double(std::get<int64_t>(v_));
        case Type::Double: return std::get<double>(v_);
        case Type::String: return leadingDouble(std::get<std::string>(v_));
        default: return 0;
    }
}

bool Value::boolValue() const {
    switch (type()) {
        case Type::Boolean: return std::get<bool>(v_);
        case Type::Integer: return std::get<int64_t>(v_) != 0;
        case Type::Double: {
            double d = std::get<double>(v_);
            return d != 0 && !std::isnan(d);
        }
        case Type::String: {
            // After blanks, an optional sign and leading zeros: Y, y, T, t or 1 to 9.
            const std::string& s = std::get<std::string>(v_);
            size_t i = skipBlanks(s);
            if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
            while (i < s.size() && s[i] == '0') ++i;
            if (i >= s.size()) return false;
            char c = s[i];
            return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
        }
        default: return false;
    }
}

std::string Value::stringValue() const {
    switch (type()) {
        case Type::String: return std::get<std::string>(v_);
        case Type::Boolean:
        case Type::Integer:
        case Type::Double: return description();
        default: return std::string();
    }
}

std::string Value::description() const {
    switch (type()) {
        case Type::Null: return "(null)";
        case Type::Boolean: return std::get<bool>(v_) ? "1" : "0";
        case Type::Integer: return std::to_string(std::get<int64_t>(v_));
        case Type::Double: return doubleText(std::get<double>(v_));
        case Type::String: return std::get<std::string>(v_);
        case Type::Data: {
            static const char hex[] = "0123456789abcdef";
            const Bytes& b = std::get<Bytes>(v_);
            std::string out = "<";
            for (size_t i = 0; i < b.size(); ++i) {
                if (i > 0 && i % 4 == 0) out += ' ';
                out += hex[b[i] >> 4];
                out += hex[b[i] & 15];
            }
            out += '>';
            return out;
        }
        case Type::Date: return dateText(std::get<Date>(v_).seconds);
        case Type::Array:
        case Type::Dictionary: {
            std::string out;
            describe(*this, 0, false, out);
            return out;
        }
    }
    return std::string();
}

const std::string& Value::string() const {
    if (auto p = std::get_if<std::string>(&v_)) return *p;
    return kEmptyString;
}

const Bytes& Value::bytes() const {
    if (auto p = std::get_if<Bytes>(&v_)) return *p;
    return kEmptyBytes;
}

Date Value::date() const {
    if (auto p = std::get_if<Date>(&v_)) return *p;
    return Date{};
}

const ValueArray& Value::array() const {
    if (auto p = std::get_if<std::shared_ptr<ValueArray>>(&v_)) return **p;
    return kEmptyArray;
}

const ValueDictionary& Value::dictionary() const {
    if (auto p = std::get_if<std::shared_ptr<ValueDictionary>>(&v_)) return **p;
    return kEmptyDictionary;
}

ValueArray& Value::mutableArray() {
    auto p = std::get_if<std::shared_ptr<ValueArray>>(&v_);
    if (!p) {
        v_ = std::make_shared<ValueArray>();
        p = std::get_if<std::shared_ptr<ValueArray>>(&v_);
    } else if (p->use_count() > 1) {
        *p = std::make_shared<ValueArray>(**p);
    }
    return **p;
}

ValueDictionary& Value::mutableDictionary() {
    auto p = std::get_if<std::shared_ptr<ValueDictionary>>(&v_);
    if (!p) {
        v_ = std::make_shared<ValueDictionary>();
        p = std::get_if<std::shared_ptr<ValueDictionary>>(&v_);
    } else if (p->use_count() > 1) {
        *p = std::make_shared<ValueDictionary>(**p);
    }
    return **p;
}

const Value& Value::operator[](const std::string& key) const {
    if (auto p = std::get_if<std::shared_ptr<ValueDictionary>>(&v_)) {
        auto it = (*p)->find(key);
        if (it != (*p)->end()) return it->second;
    }
    return null();
}

bool Value::has(const std::string& key) const {
    if (auto p = std::get_if<std::shared_ptr<ValueDictionary>>(&v_)) return (*p)->count(key) > 0;
    return false;
}

void Value::set(const std::string& key, Value value) {
    mutableDictionary()[key] = std::move(value);
}

void Value::remove(const std::string& key) {
    if (!isDictionary() || !has(key)) return;
    mutableDictionary().erase(key);
}

const Value& Value::at(size_t index) const {
    if (auto p = std::get_if<std::shared_ptr<ValueArray>>(&v_)) {
        if (index < (*p)->size()) return (**p)[index];
    }
    return null();
}

void Value::append(Value value) {
    mutableArray().push_back(std::move(value));
}

size_t Value::count() const {
    switch (type()) {
        case Type::String: return std::get<std::string>(v_).size();
        case Type::Data: return std::get<Bytes>(v_).size();
        case Type::Array: return array().size();
        case Type::Dictionary: return dictionary().size();
        default: return 0;
    }
}

bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if (isDouble() || other.isDouble()) {
            if (isDouble() && other.isDouble()) return std::get<double>(v_) == std::get<double>(other.v_);
            // One side is whole: compare exactly, without rounding the integer to a double.
            const Value& d = isDouble() ? *this : other;
            const Value& i = isDouble() ? other : *this;
            double x = std::get<double>(d.v_);
            if (!std::isfinite(x) || x != std::floor(x)) return false;
            if (x >= 9223372036854775808.0 || x < -9223372036854775808.0) return false;
            return int64_t(x) == i.intValue();
        }
        return intValue() == other.intValue();
    }
    if (type() != other.type()) return false;
    switch (type()) {
        case Type::Null: return true;
        case Type::String: return string() == other.string();
        case Type::Data: return bytes() == other.bytes();
        case Type::Date: return date() == other.date();
        case Type::Array: {
            const auto& a = std::get<std::shared_ptr<ValueArray>>(v_);
            const auto& b = std::get<std::shared_ptr<ValueArray>>(other.v_);
            return a == b || *a == *b;
        }
        case Type::Dictionary: {
            const auto& a = std::get<std::shared_ptr<ValueDictionary>>(v_);
            const auto& b = std::get<std::shared_ptr<ValueDictionary>>(other.v_);
            return a == b || *a == *b;
        }
        default: return false;
    }
}

const Value& Value::null() {
    static const Value value;
    return value;
}

}  // namespace telvo
