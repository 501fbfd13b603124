#pragma once
// Regular-expression operations on strings over the ICU engine. Patterns use ICU syntax,
// options are ICU pattern flags passed through unchanged, ranges count UTF-16 units of the
// subject (as the engine does), capture 0 is the whole match. Strings go in and come out as
// UTF-8. Every operation has defaults for options (0), range (the whole subject), capture (0)
// and the error output (none).
//
// A pattern that does not compile gives the operation's empty result and an error of domain
// "RKLICURegexErrorDomain" (see regexErrorUserInfo for its details). A range outside the
// subject, a capture outside 0 to the pattern's group count, or a string too long for the
// engine gives the empty result and an error of domain "NSRangeException" or
// "NSInvalidArgumentException" whose message starts with the operation's name; an engine
// failure while matching gives domain "RKLICURegexException".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo {

struct Range {
    static constexpr uint64_t kNotFound = uint64_t(INT64_MAX);
    uint64_t location = kNotFound;
    uint64_t length = 0;
    bool operator==(const Range&) const = default;
};

using RegexOptions = uint32_t;
using OptRange = std::optional<Range>;

// The details of a compile error: "NSLocalizedDescription", "NSLocalizedFailureReason",
// "RKLICURegexRegex", "RKLICURegexRegexOptions", "RKLICURegexErrorCode",
// "RKLICURegexErrorName", "RKLICURegexLine", "RKLICURegexOffset", "RKLICURegexPreContext",
// "RKLICURegexPostContext". Null for any other error.
Value regexErrorUserInfo(const ErrorPtr& error);

// The range of the first match (or of the capture), or {kNotFound, 0}.
Range rangeOfRegex(const std::string& subject, const std::string& regex, RegexOptions options = 0,
                   OptRange range = {}, long capture = 0, ErrorPtr* error = nullptr);
// The text of the first match (or of the capture); nothing when there is none.
std::optional<std::string> stringByMatching(const std::string& subject, const std::string& regex,
                                            RegexOptions options = 0, OptRange range = {}, long capture = 0,
                                            ErrorPtr* error = nullptr);
bool isMatchedByRegex(const std::string& subject, const std::string& regex, RegexOptions options = 0,
                      OptRange range = {}, ErrorPtr* error = nullptr);
// The pieces between the matches, in order, empty pieces included.
std::vector<std::string> componentsSeparatedByRegex(const std::string& subject, const std::string& regex,
                                                    RegexOptions options = 0, OptRange range = {},
                                                    ErrorPtr* error = nullptr);
// The text of every match, or of one capture of each ("" where the capture took no part).
std::vector<std::string> componentsMatchedByRegex(const std::string& subject, const std::string& regex,
                                                  RegexOptions options = 0, OptRange range = {}, long capture = 0,
                                                  ErrorPtr* error = nullptr);
// For the first match: the whole match followed by every capture.
std::vector<std::string> captureComponentsMatchedByRegex(const std::string& subject, const std::string& regex,
                                                         RegexOptions options = 0, OptRange range = {},
                                                         ErrorPtr* error = nullptr);
// The same for every match, one list per match.
std::vector<std::vector<std::string>> arrayOfCaptureComponentsMatchedByRegex(const std::string& subject,
                                                                             const std::string& regex,
                                                                             RegexOptions options = 0,
                                                                             OptRange range = {},
                                                                             ErrorPtr* error = nullptr);
// A copy with every match inside the range replaced ("$1" stands for capture 1); nothing on
// error.
std::optional<std::string> stringByReplacingOccurrencesOfRegex(const std::string& subject, const std::string& regex,
                                                               const std::string& replacement,
                                                               RegexOptions options = 0, OptRange range = {},
                                                               ErrorPtr* error = nullptr);
// Replaces in place; the number of replacements, -1 on error (the string is then unchanged).
long replaceOccurrencesOfRegex(std::string& subject, const std::string& regex, const std::string& replacement,
                               RegexOptions options = 0, OptRange range = {}, ErrorPtr* error = nullptr);
// The number of capture groups of a pattern; -1 when it does not compile.
long captureCountForRegex(const std::string& regex, RegexOptions options = 0, ErrorPtr* error = nullptr);
// The same with the string itself as the pattern.
long captureCountWithOptions(const std::string& pattern, RegexOptions options = 0, ErrorPtr* error = nullptr);
bool isRegexValidWithOptions(const std::string& pattern, RegexOptions options = 0, ErrorPtr* error = nullptr);

// Drops what the cache holds about this subject string.
void flushCachedRegexData(const std::string& subject);
// Drops every cached subject string.
void clearStringCache();

}  // namespace telvo
