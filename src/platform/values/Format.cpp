// printf-style formatting with "%@", checked against the arguments' run-time types.
#include "platform/values/Format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace telvo {

namespace {

std::string describeArg(const FormatArg& arg) {
    struct Visitor {
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(uint64_t u) const { return std::to_string(u); }
        std::string operator()(double d) const { return Value(d).description(); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const Value& v) const { return v.description(); }
        std::string operator()(const void* p) const {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
            return buffer;
        }
    };
    return std::visit(Visitor{}, arg.v);
}

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    std::string length;
    char conversion = 0;
    bool leftAlign() const { return flags.find('-') != std::string::npos; }
};

// Pads a text to the field width (blanks; left or right aligned).
void appendPadded(std::string& out, const std::string& text, const Spec& spec) {
    if (spec.width > 0 && text.size() < size_t(spec.width)) {
        std::string pad(size_t(spec.width) - text.size(), ' ');
        if (spec.leftAlign()) {
            out += text;
            out += pad;
        } else {
            out += pad;
            out += text;
        }
    } else {
        out += text;
    }
}

template <class T>
void appendPrintf(std::string& out, const Spec& spec, const char* lengthModifier, T value) {
    std::string f = "%" + spec.flags;
    if (spec.width >= 0) f += std::to_string(spec.width);
    if (spec.precision >= 0) f += "." + std::to_string(spec.precision);
    f += lengthModifier;
    f += spec.conversion;
    char small[128];
    int n = std::snprintf(small, sizeof small, f.c_str(), value);
    if (n < 0) return;
    if (size_t(n) < sizeof small) {
        out.append(small, size_t(n));
        return;
    }
    std::string big(size_t(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), f.c_str(), value);
    big.resize(size_t(n));
    out += big;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The argument as a whole number, when it is one.
bool wholeNumber(const FormatArg& arg, int64_t& signedValue, uint64_t& unsignedValue, bool& isUnsigned) {
    if (auto p = std::get_if<int64_t>(&arg.v)) {
        signedValue = *p;
        isUnsigned = false;
        return true;
    }
    if (auto p = std::get_if<uint64_t>(&arg.v)) {
        unsignedValue = *p;
        isUnsigned = true;
        return true;
    }
    if (auto p = std::get_if<Value>(&arg.v)) {
        if (p->isInteger() || p->isBoolean()) {
            signedValue = p->intValue();
            isUnsigned = false;
            return true;
        }
    }
    return false;
}

bool floatingNumber(const FormatArg& arg, double& value) {
    if (auto p = std::get_if<double>(&arg.v)) {
        value = *p;
        return true;
    }
    if (auto p = std::get_if<int64_t>(&arg.v)) {
        value = double(*p);
        return true;
    }
    if (auto p = std::get_if<uint64_t>(&arg.v)) {
        value = double(*p);
        return true;
    }
    if (auto p = std::get_if<Value>(&arg.v)) {
        if (p->isNumber()) {
            value = p->doubleValue();
            return true;
        }
    }
    return false;
}

void appendConversion(std::string& out, const Spec& spec, const FormatArg& arg) {
    Spec plain = spec;
    plain.precision = -1;
    switch (spec.conversion) {
        case 'd':
        case 'i': {
            int64_t s = 0;
            uint64_t u = 0;
            bool isUnsigned = false;
            if (!wholeNumber(arg, s, u, isUnsigned)) break;
            if (isUnsigned && u > uint64_t(INT64_MAX)) {
                Spec us = spec;
                us.conversion = 'u';
                appendPrintf(out, us, "ll", static_cast<unsigned long long>(u));
            } else {
                appendPrintf(out, spec, "ll", static_cast<long long>(isUnsigned ? int64_t(u) : s));
            }
            return;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            int64_t s = 0;
            uint64_t u = 0;
            bool isUnsigned = false;
            if (!wholeNumber(arg, s, u, isUnsigned)) break;
            if (!isUnsigned) {
                // A negative value is shown in the width its length modifier names, as C would.
                if (s >= 0) u = uint64_t(s);
                else if (spec.length == "hh") u = uint8_t(s);
                else if (spec.length == "h") u = uint16_t(s);
                else if (spec.length.empty() && s >= INT32_MIN) u = uint32_t(s);
                else u = uint64_t(s);
            }
            appendPrintf(out, spec, "ll", static_cast<unsigned long long>(u));
            return;
        }
        case 'c': {
            int64_t s = 0;
            uint64_t u = 0;
            bool isUnsigned = false;
            if (!wholeNumber(arg, s, u, isUnsigned)) break;
            uint64_t c = isUnsigned ? u : uint64_t(s);
            std::string text;
            if (c != 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) appendUtf8(text, uint32_t(c));
            appendPadded(out, text, plain);
            return;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            double d = 0;
            if (!floatingNumber(arg, d)) break;
            appendPrintf(out, spec, "", d);
            return;
        }
        case 's': {
            std::string text;
            if (auto p = std::get_if<std::string>(&arg.v)) text = *p;
            else if (auto v = std::get_if<Value>(&arg.v); v && v->isString()) text = v->string();
            else text = describeArg(arg);
            if (spec.precision >= 0 && text.size() > size_t(spec.precision)) text.resize(size_t(spec.precision));
            appendPadded(out, text, plain);
            return;
        }
        case 'p':
        case '@':
        default:
            break;
    }
    appendPadded(out, describeArg(arg), plain);
}

}  // namespace

std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    size_t next = 0;  // index of the next argument
    size_t i = 0;
    const size_t n = format.size();

    auto takeArg = [&](size_t explicitIndex) -> const FormatArg* {
        size_t index = explicitIndex ? explicitIndex - 1 : next++;
        return index < args.size() ? &args[index] : nullptr;
    };
    auto takeInt = [&](bool& ok) -> int64_t {
        const FormatArg* a = takeArg(0);
        int64_t s = 0;
        uint64_t u = 0;
        bool isUnsigned = false;
        ok = a && wholeNumber(*a, s, u, isUnsigned);
        if (!ok) return 0;
        return isUnsigned ? int64_t(std::min<uint64_t>(u, INT32_MAX)) : s;
    };

    while (i < n) {
        char c = format[i];
        if (c != '%') {
            size_t end = format.find('%', i);
            if (end == std::string_view::npos) end = n;
            out.append(format.substr(i, end - i));
            i = end;
            continue;
        }
        size_t start = i++;
        if (i < n && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Spec spec;
        size_t explicitIndex = 0;
        // Positional argument "%2$@".
        {
            size_t j = i;
            size_t number = 0;
            while (j < n && format[j] >= '0' && format[j] <= '9' && number < 100000) number = number * 10 + size_t(format[j++] - '0');
            if (j > i && j < n && format[j] == '$' && number > 0) {
                explicitIndex = number;
                i = j + 1;
            }
        }
        while (i < n && (format[i] == '-' || format[i] == '+' || format[i] == ' ' || format[i] == '#' ||
                         format[i] == '0' || format[i] == '\'')) {
            if (format[i] != '\'' && spec.flags.find(format[i]) == std::string::npos) spec.flags += format[i];
            ++i;
        }
        if (i < n && format[i] == '*') {
            bool ok = false;
            int64_t w = takeInt(ok);
            if (ok) {
                if (w < 0) {
                    if (spec.flags.find('-') == std::string::npos) spec.flags += '-';
                    w = -w;
                }
                spec.width = int(std::min<int64_t>(w, 4096));
            }
            ++i;
        } else {
            int w = 0;
            bool any = false;
            while (i < n && format[i] >= '0' && format[i] <= '9') {
                w = std::min(w * 10 + (format[i] - '0'), 4096);
                any = true;
                ++i;
            }
            if (any) spec.width = w;
        }
        if (i < n && format[i] == '.') {
            ++i;
            if (i < n && format[i] == '*') {
                bool ok = false;
                int64_t p = takeInt(ok);
                spec.precision = ok && p >= 0 ? int(std::min<int64_t>(p, 4096)) : -1;
                ++i;
            } else {
                int p = 0;
                while (i < n && format[i] >= '0' && format[i] <= '9') {
                    p = std::min(p * 10 + (format[i] - '0'), 4096);
                    ++i;
                }
                spec.precision = p;
            }
        }
        while (i < n && (format[i] == 'h' || format[i] == 'l' || format[i] == 'q' || format[i] == 'L' ||
                         format[i] == 'z' || format[i] == 't' || format[i] == 'j')) {
            spec.length += format[i];
            ++i;
        }
        if (i >= n) {
            // An unfinished conversion at the end is written as it stands.
            out.append(format.substr(start));
            break;
        }
        spec.conversion = format[i++];
        switch (spec.conversion) {
            case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': case 'C':
            case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            case 's': case 'S': case 'p': case '@': {
                if (spec.conversion == 'C') spec.conversion = 'c';
                if (spec.conversion == 'S') spec.conversion = 's';
                const FormatArg* arg = takeArg(explicitIndex);
                if (arg) appendConversion(out, spec, *arg);
                break;
            }
            case 'n':
                // Never writes through an argument; the argument is used up.
                takeArg(explicitIndex);
                break;
            default:
                // Not a conversion: the text stands as written and no argument is used.
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace telvo
