#pragma once
// The error objects of the regular-expression operations.
#include <unicode/parseerr.h>
#include <unicode/utypes.h>

#include <string>

#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::regexerr {

inline constexpr const char* kRange = "NSRangeException";
inline constexpr const char* kInvalidArgument = "NSInvalidArgumentException";

// An error that carries the compile details as a dictionary.
struct RegexError : Error {
    Value userInfo;
};

void setCompileError(ErrorPtr* error, const std::string& pattern, uint32_t options, UErrorCode status,
                     const UParseError& parse);
// Misuse (bad range, capture or length). The operation name is filled in by the operation.
void setMisuse(ErrorPtr* error, const char* domain, const std::string& reason);
// The engine failed while matching.
void setEngineFailure(ErrorPtr* error, UErrorCode status);
// Puts "*** -[NSString <operation>]: " in front of a misuse message.
void nameOperation(ErrorPtr* error, const char* operation);

}  // namespace telvo::regexerr
