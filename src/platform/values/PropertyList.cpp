// XML property lists: reading over pugixml, writing by hand in the platform's layout.
#include "platform/values/PropertyList.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <pugixml.hpp>

#include "platform/fs/Root.h"

namespace telvo::plist {

namespace {

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr const char* kFooter = "</plist>\n";

// Deeper nesting than this is refused, so that hostile input cannot exhaust the stack.
constexpr int kMaxDepth = 512;

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

ErrorPtr corrupt(const std::string& message) {
    // The platform's code for a damaged property list.
    return makeError("NSCocoaErrorDomain", 3840, message);
}

// ---- writing ----

void appendEscaped(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\t':
            case '\n': out += char(c); break;
            default:
                if (c < 0x20) {
                    // Control characters (and CR, which a reader would fold into LF) as references.
                    out += "&#" + std::to_string(c) + ";";
                } else {
                    out += char(c);
                }
        }
    }
}

std::string base64(const Bytes& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        out += kBase64Alphabet[v >> 18];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    if (i + 1 == bytes.size()) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        out += kBase64Alphabet[v >> 18];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
        out += kBase64Alphabet[v >> 18];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string realText(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-infinity" : "+infinity";
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
    return std::string(buffer, r.ptr);
}

std::string dateText(double seconds) {
    // The format holds whole seconds.
    time_t t = std::isfinite(seconds) ? time_t(std::floor(seconds)) : 0;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buffer[64];
    strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

void write(const Value& value, int level, std::string& out) {
    const std::string indent(size_t(level), '\t');
    switch (value.type()) {
        case Value::Type::Null:
            return;  // the format has no null; callers leave such entries out
        case Value::Type::Boolean:
            out += indent + (value.boolValue() ? "<true/>\n" : "<false/>\n");
            return;
        case Value::Type::Integer:
            out += indent + "<integer>" + std::to_string(value.intValue()) + "</integer>\n";
            return;
        case Value::Type::Double:
            out += indent + "<real>" + realText(value.doubleValue()) + "</real>\n";
            return;
        case Value::Type::String:
            out += indent + "<string>";
            appendEscaped(out, value.string());
            out += "</string>\n";
            return;
        case Value::Type::Data: {
            out += indent + "<data>\n";
            const std::string text = base64(value.bytes());
            // Lines of at most 76 characters, counting a tab as eight.
            size_t width = 76 > size_t(level) * 8 + 4 ? 76 - size_t(level) * 8 : 4;
            width -= width % 4;
            for (size_t i = 0; i < text.size(); i += width) out += indent + text.substr(i, width) + "\n";
            out += indent + "</data>\n";
            return;
        }
        case Value::Type::Date:
            out += indent + "<date>" + dateText(value.date().seconds) + "</date>\n";
            return;
        case Value::Type::Array: {
            if (value.array().empty()) {
                out += indent + "<array/>\n";
                return;
            }
            out += indent + "<array>\n";
            for (const Value& item : value.array()) write(item, level + 1, out);
            out += indent + "</array>\n";
            return;
        }
        case Value::Type::Dictionary: {
            if (value.dictionary().empty()) {
                out += indent + "<dict/>\n";
                return;
            }
            out += indent + "<dict>\n";
            for (const auto& [key, item] : value.dictionary()) {
                if (item.isNull()) continue;
                out += indent + "\t<key>";
                appendEscaped(out, key);
                out += "</key>\n";
                write(item, level + 1, out);
            }
            out += indent + "</dict>\n";
            return;
        }
    }
}

// ---- reading ----

std::string textOf(pugi::xml_node node) {
    std::string out;
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
    return out;
}

bool isXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isXmlBlank(s[b])) ++b;
    while (e > b && isXmlBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool parseInteger(const std::string& raw, int64_t& out) {
    std::string s = trimmed(raw);
    if (s.empty()) return false;
    bool negative = false;
    size_t i = 0;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        ++i;
    }
    int base = 10;
    if (s.size() > i + 1 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    uint64_t magnitude = 0;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), magnitude, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    if (negative) {
        if (magnitude > uint64_t(INT64_MAX) + 1) return false;
        out = magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude);
    } else {
        // Values above the signed range keep their bits, as unsigned 64-bit numbers are stored.
        out = int64_t(magnitude);
    }
    return true;
}

bool parseReal(const std::string& raw, double& out) {
    std::string s = trimmed(raw);
    if (s == "nan" || s == "NaN") {
        out = std::nan("");
        return true;
    }
    if (s == "+infinity" || s == "infinity" || s == "inf" || s == "+inf") {
        out = INFINITY;
        return true;
    }
    if (s == "-infinity" || s == "-inf") {
        out = -INFINITY;
        return true;
    }
    size_t i = 0;
    if (!s.empty() && s[0] == '+') i = 1;
    if (i >= s.size()) return false;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), out, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return false;
    if (r.ec == std::errc::result_out_of_range) {
        out = 0;  // a denormal underflow reads as zero; overflow is refused
        return s.find("e-") != std::string::npos || s.find("E-") != std::string::npos;
    }
    return r.ec == std::errc();
}

bool parseBase64(const std::string& text, Bytes& out) {
    out.clear();
    uint32_t buffer = 0;
    int bits = 0;
    bool padding = false;
    for (unsigned char c : text) {
        if (isXmlBlank(char(c))) continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        if (padding) return false;  // data after the padding
        const char* p = c ? std::strchr(kBase64Alphabet, c) : nullptr;
        if (!p) return false;
        buffer = (buffer << 6) | uint32_t(p - kBase64Alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(buffer >> bits));
            buffer &= (1u << bits) - 1;
        }
    }
    return true;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ", with an optional fraction of a second before the "Z".
bool parseDate(const std::string& raw, double& out) {
    std::string s = trimmed(raw);
    int year, month, day, hour, minute, second;
    int consumed = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second, &consumed) != 6)
        return false;
    if (consumed != 19) return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || hour < 0 ||
        minute < 0 || second < 0)
        return false;
    double fraction = 0;
    size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        size_t start = i;
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == start + 1) return false;
        std::string digits = "0" + s.substr(start, i - start);
        std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
    }
    if (i + 1 != s.size() || s[i] != 'Z') return false;
    out = double(daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second) +
          fraction;
    return true;
}

pugi::xml_node nextElement(pugi::xml_node n) {
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

Value read(pugi::xml_node node, int depth, ErrorPtr& error) {
    if (depth > kMaxDepth) {
        error = corrupt("Property list nested too deeply");
        return Value();
    }
    const std::string name = node.name();
    if (name == "dict") {
        ValueDictionary dict;
        for (pugi::xml_node k = nextElement(node.first_child()); k; k = nextElement(k.next_sibling())) {
            if (std::strcmp(k.name(), "key") != 0) {
                error = corrupt(std::string("Expected key in dictionary, found <") + k.name() + ">");
                return Value();
            }
            pugi::xml_node v = nextElement(k.next_sibling());
            if (!v) {
                error = corrupt("Dictionary key \"" + textOf(k) + "\" has no value");
                return Value();
            }
            Value item = read(v, depth + 1, error);
            if (error) return Value();
            dict[textOf(k)] = std::move(item);
            k = v;
        }
        return Value(std::move(dict));
    }
    if (name == "array") {
        ValueArray array;
        for (pugi::xml_node v = nextElement(node.first_child()); v; v = nextElement(v.next_sibling())) {
            Value item = read(v, depth + 1, error);
            if (error) return Value();
            array.push_back(std::move(item));
        }
        return Value(std::move(array));
    }
    if (name == "string") return Value(textOf(node));
    if (name == "true") return Value(true);
    if (name == "false") return Value(false);
    if (name == "integer") {
        int64_t i = 0;
        if (!parseInteger(textOf(node), i)) {
            error = corrupt("Bad integer \"" + textOf(node) + "\"");
            return Value();
        }
        return Value(static_cast<long long>(i));
    }
    if (name == "real") {
        double d = 0;
        if (!parseReal(textOf(node), d)) {
            error = corrupt("Bad real \"" + textOf(node) + "\"");
            return Value();
        }
        return Value(d);
    }
    if (name == "data") {
        Bytes bytes;
        if (!parseBase64(textOf(node), bytes)) {
            error = corrupt("Bad base64 data");
            return Value();
        }
        return Value(std::move(bytes));
    }
    if (name == "date") {
        double seconds = 0;
        if (!parseDate(textOf(node), seconds)) {
            error = corrupt("Bad date \"" + textOf(node) + "\"");
            return Value();
        }
        return Value(Date{seconds});
    }
    error = corrupt("Unknown property-list element <" + name + ">");
    return Value();
}

}  // namespace

Value parse(const std::string& xml, ErrorPtr* error) {
    ErrorPtr failure;
    auto fail = [&](ErrorPtr e) {
        if (error) *error = std::move(e);
        return Value();
    };
    pugi::xml_document doc;
    // The DOCTYPE is kept as a node so that an internal subset (the only place entities can be
    // declared) can be refused; nothing of it is ever interpreted or fetched.
    const unsigned flags = pugi::parse_default | pugi::parse_doctype | pugi::parse_ws_pcdata;
    pugi::xml_parse_result result = doc.load_buffer(xml.data(), xml.size(), flags, pugi::encoding_utf8);
    if (!result) {
        return fail(corrupt(std::string("Property list is not XML: ") + result.description() + " at offset " +
                            std::to_string(result.offset)));
    }
    for (pugi::xml_node c : doc.children()) {
        if (c.type() == pugi::node_doctype && std::strchr(c.value(), '[')) {
            return fail(corrupt("Property list declares its own entities or elements; refused"));
        }
    }
    pugi::xml_node top = doc.document_element();
    if (!top) return fail(corrupt("Property list has no root element"));
    if (std::strcmp(top.name(), "plist") == 0) {
        top = nextElement(top.first_child());
        if (!top) return Value();  // an empty property list
        if (nextElement(top.next_sibling())) return fail(corrupt("Property list holds more than one value"));
    }
    Value value = read(top, 0, failure);
    if (failure) return fail(failure);
    return value;
}

std::string readFailure(const std::string& path, int code, size_t limit) {
    if (code == EINVAL) return "Cannot read " + path + ": it is no regular file";
    if (code == EFBIG) return "Cannot read " + path + ": it is larger than " + std::to_string(limit) + " bytes";
    return "Cannot read " + path + ": " + std::strerror(code);
}

Value readFile(const std::string& path, ErrorPtr* error, size_t limit) {
    std::string contents;
    if (!fs::readFile(path, contents, limit)) {
        int code = errno;
        if (error) *error = makeError("NSPOSIXErrorDomain", code, readFailure(path, code, limit));
        return Value();
    }
    return parse(contents, error);
}

std::string serialize(const Value& value) {
    std::string out = kHeader;
    write(value, 0, out);
    out += kFooter;
    return out;
}

bool writeFile(const Value& value, const std::string& path, ErrorPtr* error) {
    if (!fs::writeFileAtomically(path, serialize(value))) {
        int code = errno;
        if (error) *error = makeError("NSPOSIXErrorDomain", code, "Cannot write " + path + ": " + std::strerror(code));
        return false;
    }
    return true;
}

}  // namespace telvo::plist
