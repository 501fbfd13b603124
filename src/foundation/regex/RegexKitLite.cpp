#include "foundation/regex/RegexKitLite.h"

#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <climits>

#include "foundation/regex/RegexCache.h"
#include "foundation/regex/RegexErrors.h"

namespace telvo {
namespace {

using Slot = RegexCache::Slot;

std::string toUtf8(const char16_t* text, int64_t length) {
    std::string out;
    if (length <= 0) return out;
    int32_t needed = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(nullptr, 0, &needed, text, int32_t(length), 0xFFFD, nullptr, &status);
    out.resize(size_t(needed));
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), needed, &needed, text, int32_t(length), 0xFFFD, nullptr, &status);
    return out;
}

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    int32_t needed = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(nullptr, 0, &needed, text.data(), int32_t(text.size()), 0xFFFD, nullptr, &status);
    out.resize(size_t(needed));
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), needed, &needed, text.data(), int32_t(text.size()), 0xFFFD, nullptr, &status);
    return out;
}

std::string piece(const Slot& s, int64_t start, int64_t end) {
    if (start < 0 || end < start) return "";
    return toUtf8(s.text.data() + start, end - start);
}

// The range of a group of the current match; {-1, -1} when the group took no part.
std::pair<int64_t, int64_t> group(const Slot& s, int32_t g, UErrorCode& status) {
    int64_t start = uregex_start64(s.regex, g, &status);
    int64_t end = uregex_end64(s.regex, g, &status);
    return {start, end};
}

// Compiles (or finds) the pattern, sets the subject, checks the range and the capture, limits
// the search to the range and runs `body`. Answers false with the error filled in on failure.
template <class Body>
bool run(const char* operation, const std::string& subject, const std::string& regex, RegexOptions options,
         OptRange range, const long* capture, ErrorPtr* error, Body&& body) {
    ErrorPtr failure;
    RegexCache::shared().withSlot(regex, options, &subject, &failure, [&](Slot& s) {
        const uint64_t length = s.text.size();
        const Range r = range.value_or(Range{0, length});
        if (r.location > length || r.length > length - r.location) {
            regexerr::setMisuse(&failure, regexerr::kRange, "Range or index out of bounds");
            return;
        }
        if (capture && (*capture < 0 || *capture > s.groupCount)) {
            regexerr::setMisuse(&failure, regexerr::kInvalidArgument, "The capture argument is not valid.");
            return;
        }
        UErrorCode status = U_ZERO_ERROR;
        uregex_setRegion64(s.regex, int64_t(r.location), int64_t(r.location + r.length), &status);
        if (U_FAILURE(status)) {
            regexerr::setEngineFailure(&failure, status);
            return;
        }
        status = body(s);
        if (U_FAILURE(status)) regexerr::setEngineFailure(&failure, status);
    });
    if (failure) {
        regexerr::nameOperation(&failure, operation);
        if (error) *error = failure;
        return false;
    }
    return true;
}

}  // namespace

Value regexErrorUserInfo(const ErrorPtr& error) {
    if (!error || error->domain != "RKLICURegexErrorDomain") return Value();
    // Only the compile step makes errors of this domain, always as RegexError.
    return static_cast<const regexerr::RegexError&>(*error).userInfo;
}

Range rangeOfRegex(const std::string& subject, const std::string& regex, RegexOptions options, OptRange range,
                   long capture, ErrorPtr* error) {
    Range found;
    run("rangeOfRegex:options:inRange:capture:error:", subject, regex, options, range, &capture, error,
        [&](Slot& s) {
            UErrorCode status = U_ZERO_ERROR;
            if (uregex_findNext(s.regex, &status) && U_SUCCESS(status)) {
                auto [start, end] = group(s, int32_t(capture), status);
                if (start >= 0) found = Range{uint64_t(start), uint64_t(end - start)};
            }
            return status;
        });
    return found;
}

std::optional<std::string> stringByMatching(const std::string& subject, const std::string& regex,
                                            RegexOptions options, OptRange range, long capture, ErrorPtr* error) {
    std::optional<std::string> found;
    run("stringByMatching:options:inRange:capture:error:", subject, regex, options, range, &capture, error,
        [&](Slot& s) {
            UErrorCode status = U_ZERO_ERROR;
            if (uregex_findNext(s.regex, &status) && U_SUCCESS(status)) {
                auto [start, end] = group(s, int32_t(capture), status);
                if (start >= 0) found = piece(s, start, end);
            }
            return status;
        });
    return found;
}

bool isMatchedByRegex(const std::string& subject, const std::string& regex, RegexOptions options, OptRange range,
                      ErrorPtr* error) {
    bool matched = false;
    run("isMatchedByRegex:options:inRange:error:", subject, regex, options, range, nullptr, error, [&](Slot& s) {
        UErrorCode status = U_ZERO_ERROR;
        matched = uregex_findNext(s.regex, &status) && U_SUCCESS(status);
        return status;
    });
    return matched;
}

std::vector<std::string> componentsSeparatedByRegex(const std::string& subject, const std::string& regex,
                                                    RegexOptions options, OptRange range, ErrorPtr* error) {
    std::vector<std::string> pieces;
    bool ok = run("componentsSeparatedByRegex:options:range:error:", subject, regex, options, range, nullptr, error,
                  [&](Slot& s) {
                      UErrorCode status = U_ZERO_ERROR;
                      int64_t from = uregex_regionStart64(s.regex, &status);
                      const int64_t regionEnd = uregex_regionEnd64(s.regex, &status);
                      while (U_SUCCESS(status) && uregex_findNext(s.regex, &status)) {
                          auto [start, end] = group(s, 0, status);
                          // An empty match where the last one ended divides nothing.
                          if (start == end && start == from && !pieces.empty()) continue;
                          pieces.push_back(piece(s, from, start));
                          from = end;
                      }
                      pieces.push_back(piece(s, from, regionEnd));
                      return status;
                  });
    if (!ok) pieces.clear();
    return pieces;
}

std::vector<std::string> componentsMatchedByRegex(const std::string& subject, const std::string& regex,
                                                  RegexOptions options, OptRange range, long capture,
                                                  ErrorPtr* error) {
    std::vector<std::string> matches;
    bool ok = run("componentsMatchedByRegex:options:range:capture:error:", subject, regex, options, range, &capture,
                  error, [&](Slot& s) {
                      UErrorCode status = U_ZERO_ERROR;
                      while (U_SUCCESS(status) && uregex_findNext(s.regex, &status)) {
                          auto [start, end] = group(s, int32_t(capture), status);
                          matches.push_back(piece(s, start, end));
                      }
                      return status;
                  });
    if (!ok) matches.clear();
    return matches;
}

namespace {

std::vector<std::string> currentCaptures(const Slot& s, UErrorCode& status) {
    std::vector<std::string> captures;
    for (int32_t g = 0; g <= s.groupCount && U_SUCCESS(status); ++g) {
        auto [start, end] = group(s, g, status);
        captures.push_back(piece(s, start, end));
    }
    return captures;
}

}  // namespace

std::vector<std::string> captureComponentsMatchedByRegex(const std::string& subject, const std::string& regex,
                                                         RegexOptions options, OptRange range, ErrorPtr* error) {
    std::vector<std::string> captures;
    bool ok = run("captureComponentsMatchedByRegex:options:range:error:", subject, regex, options, range, nullptr,
                  error, [&](Slot& s) {
                      UErrorCode status = U_ZERO_ERROR;
                      if (uregex_findNext(s.regex, &status) && U_SUCCESS(status)) captures = currentCaptures(s, status);
                      return status;
                  });
    if (!ok) captures.clear();
    return captures;
}

std::vector<std::vector<std::string>> arrayOfCaptureComponentsMatchedByRegex(const std::string& subject,
                                                                             const std::string& regex,
                                                                             RegexOptions options, OptRange range,
                                                                             ErrorPtr* error) {
    std::vector<std::vector<std::string>> all;
    bool ok = run("arrayOfCaptureComponentsMatchedByRegex:options:range:error:", subject, regex, options, range,
                  nullptr, error, [&](Slot& s) {
                      UErrorCode status = U_ZERO_ERROR;
                      while (U_SUCCESS(status) && uregex_findNext(s.regex, &status))
                          all.push_back(currentCaptures(s, status));
                      return status;
                  });
    if (!ok) all.clear();
    return all;
}

namespace {

// Replaces every match in the region of the slot's subject; the whole subject comes back, the
// parts outside the region unchanged.
UErrorCode replaceAll(Slot& s, const std::u16string& replacement, std::string& result, long& count) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString out;
    const icu::UnicodeString repl(false, replacement.data(), int32_t(replacement.size()));
    UText* dest = utext_openUnicodeString(nullptr, &out, &status);
    UText* replText = utext_openConstUnicodeString(nullptr, &repl, &status);
    count = 0;
    while (U_SUCCESS(status) && uregex_findNext(s.regex, &status)) {
        uregex_appendReplacementUText(s.regex, replText, dest, &status);
        ++count;
    }
    if (U_SUCCESS(status)) uregex_appendTailUText(s.regex, dest, &status);
    utext_close(replText);
    utext_close(dest);
    if (U_SUCCESS(status)) result = toUtf8(out.getBuffer(), out.length());
    return status;
}

}  // namespace

std::optional<std::string> stringByReplacingOccurrencesOfRegex(const std::string& subject, const std::string& regex,
                                                               const std::string& replacement, RegexOptions options,
                                                               OptRange range, ErrorPtr* error) {
    if (replacement.size() >= size_t(INT_MAX)) {
        regexerr::setMisuse(error, regexerr::kRange, "Replacement string length exceeds INT_MAX");
        regexerr::nameOperation(error, "stringByReplacingOccurrencesOfRegex:withString:options:range:error:");
        return std::nullopt;
    }
    const std::u16string repl = toUtf16(replacement);
    std::string result;
    long count = 0;
    bool ok = run("stringByReplacingOccurrencesOfRegex:withString:options:range:error:", subject, regex, options,
                  range, nullptr, error, [&](Slot& s) { return replaceAll(s, repl, result, count); });
    if (!ok) return std::nullopt;
    return result;
}

long replaceOccurrencesOfRegex(std::string& subject, const std::string& regex, const std::string& replacement,
                               RegexOptions options, OptRange range, ErrorPtr* error) {
    if (replacement.size() >= size_t(INT_MAX)) {
        regexerr::setMisuse(error, regexerr::kRange, "Replacement string length exceeds INT_MAX");
        regexerr::nameOperation(error, "replaceOccurrencesOfRegex:withString:options:range:error:");
        return -1;
    }
    const std::u16string repl = toUtf16(replacement);
    std::string result;
    long count = 0;
    bool ok = run("replaceOccurrencesOfRegex:withString:options:range:error:", subject, regex, options, range,
                  nullptr, error, [&](Slot& s) { return replaceAll(s, repl, result, count); });
    if (!ok) return -1;
    if (count > 0) {
        // The old text goes: nothing cached may still point at it.
        flushCachedRegexData(subject);
        subject = std::move(result);
    }
    return count;
}

long captureCountForRegex(const std::string& regex, RegexOptions options, ErrorPtr* error) {
    long count = -1;
    ErrorPtr failure;
    RegexCache::shared().withSlot(regex, options, nullptr, &failure, [&](Slot& s) { count = s.groupCount; });
    if (failure && error) *error = failure;
    return count;
}

long captureCountWithOptions(const std::string& pattern, RegexOptions options, ErrorPtr* error) {
    return captureCountForRegex(pattern, options, error);
}

bool isRegexValidWithOptions(const std::string& pattern, RegexOptions options, ErrorPtr* error) {
    return captureCountForRegex(pattern, options, error) >= 0;
}

void flushCachedRegexData(const std::string& subject) { RegexCache::shared().flushSubject(subject); }

void clearStringCache() { RegexCache::shared().clearSubjects(); }

}  // namespace telvo
