#include "foundation/regex/RegexErrors.h"

#include <unicode/ustring.h>

#include "platform/values/Format.h"

namespace telvo::regexerr {
namespace {

std::string utf8(const UChar* text) {
    std::string out;
    int32_t needed = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(nullptr, 0, &needed, text, -1, 0xFFFD, nullptr, &status);
    out.resize(size_t(needed));
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), needed, &needed, text, -1, 0xFFFD, nullptr, &status);
    return out;
}

}  // namespace

void setCompileError(ErrorPtr* error, const std::string& pattern, uint32_t options, UErrorCode status,
                     const UParseError& parse) {
    if (!error) return;
    auto e = std::make_shared<RegexError>();
    e->domain = "RKLICURegexErrorDomain";
    e->code = long(status);
    e->message = "There was an error compiling the regular expression.";
    const std::string name = u_errorName(status);
    const std::string pre = utf8(parse.preContext);
    const std::string post = utf8(parse.postContext);
    std::string reason = parse.offset >= 0
                             ? format("The error %@ occurred at line %d, column %d: %@<<HERE>>%@", name,
                                      parse.line, parse.offset, pre, post)
                             : format("The error %@ occurred.", name);
    e->userInfo = Value(ValueDictionary{
        {"NSLocalizedDescription", Value(e->message)},
        {"NSLocalizedFailureReason", Value(reason)},
        {"RKLICURegexRegex", Value(pattern)},
        {"RKLICURegexRegexOptions", Value(options)},
        {"RKLICURegexErrorCode", Value(int(status))},
        {"RKLICURegexErrorName", Value(name)},
        {"RKLICURegexLine", Value(int(parse.line))},
        {"RKLICURegexOffset", Value(int(parse.offset))},
        {"RKLICURegexPreContext", Value(pre)},
        {"RKLICURegexPostContext", Value(post)},
    });
    *error = e;
}

void setMisuse(ErrorPtr* error, const char* domain, const std::string& reason) {
    if (error) *error = makeError(domain, 0, reason);
}

void setEngineFailure(ErrorPtr* error, UErrorCode status) {
    if (error)
        *error = makeError("RKLICURegexException", long(status),
                           format("ICU regular expression error #%d, %s", int(status), u_errorName(status)));
}

void nameOperation(ErrorPtr* error, const char* operation) {
    if (!error || !*error) return;
    const std::string& d = (*error)->domain;
    if (d == kRange || d == kInvalidArgument)
        (*error)->message = format("*** -[NSString %s]: %@", operation, (*error)->message);
}

}  // namespace telvo::regexerr
