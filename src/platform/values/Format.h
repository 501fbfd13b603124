#pragma once
// Formatting in the style the components' messages are written in: printf conversions
// (%d %ld %lld %u %lu %llu %x %f %.2f %g %s %c %% with flags, width and precision) plus "%@",
// which takes any argument and writes its description (a Value's description(), a string as
// it is). Arguments are type-checked at run time: a mismatch writes the argument's
// description rather than reading garbage; a missing argument writes nothing.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>
#include "platform/values/Value.h"

namespace telvo {

struct FormatArg {
    std::variant<int64_t, uint64_t, double, std::string, Value, const void*> v;
    FormatArg(bool b) : v(int64_t(b)) {}
    FormatArg(char c) : v(int64_t(c)) {}
    FormatArg(int i) : v(int64_t(i)) {}
    FormatArg(long i) : v(int64_t(i)) {}
    FormatArg(long long i) : v(int64_t(i)) {}
    FormatArg(unsigned i) : v(uint64_t(i)) {}
    FormatArg(unsigned long i) : v(uint64_t(i)) {}
    FormatArg(unsigned long long i) : v(uint64_t(i)) {}
    FormatArg(double d) : v(d) {}
    FormatArg(float d) : v(double(d)) {}
    FormatArg(const char* s) : v(std::string(s ? s : "(null)")) {}
    FormatArg(const std::string& s) : v(s) {}
    FormatArg(std::string_view s) : v(std::string(s)) {}
    FormatArg(const Value& val) : v(val) {}
    FormatArg(const void* p) : v(p) {}
};

std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    return formatArgs(fmt, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace telvo
