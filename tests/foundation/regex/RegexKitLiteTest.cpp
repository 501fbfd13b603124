// Regular-expression helpers: each family as a table of cases, the error reports and the cache.
#include <gtest/gtest.h>

#include <unicode/uregex.h>

#include <thread>

#include "foundation/regex/RegexCache.h"
#include "foundation/regex/RegexKitLite.h"

using namespace telvo;

namespace {
const Range kNone{Range::kNotFound, 0};
using Strings = std::vector<std::string>;
}  // namespace

TEST(Regex, RangeAndStringOfFirstMatch) {
    struct Case { std::string subject, regex; RegexOptions options; OptRange range; long capture; Range found; };
    const Case cases[] = {
        {"hello world", "o", 0, {}, 0, {4, 1}},
        {"hello world", "w(or)ld", 0, {}, 1, {7, 2}},
        {"hello", "z", 0, {}, 0, kNone},
        {"hello world", "o", 0, Range{5, 6}, 0, {7, 1}},
        {"hello world", "o", 0, Range{0, 4}, 0, kNone},
        {"\xc3\xa9\xf0\x9f\x98\x80x", "x", 0, {}, 0, {3, 1}},  // "é😀x": ranges count UTF-16 units
        {"HeLLo", "hello", UREGEX_CASE_INSENSITIVE, {}, 0, {0, 5}},
        {"ac", "a(b)?c", 0, {}, 1, kNone},                        // the capture took no part
        {"", "^$", 0, {}, 0, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject + " / " + c.regex);
        ErrorPtr error;
        EXPECT_EQ(rangeOfRegex(c.subject, c.regex, c.options, c.range, c.capture, &error), c.found);
        EXPECT_FALSE(error);
    }
    EXPECT_EQ(stringByMatching("key=value", "(\\w+)=(\\w+)", 0, {}, 2), "value");
    EXPECT_EQ(stringByMatching("\xc3\xa9t\xc3\xa9", "t."), "t\xc3\xa9");
    EXPECT_EQ(stringByMatching("key", "="), std::nullopt);
}

TEST(Regex, IsMatched) {
    struct Case { std::string subject, regex; OptRange range; bool matched; };
    const Case cases[] = {
        {"abc", "b", {}, true},
        {"abc", "^b", {}, false},
        {"abc", "^b", Range{1, 2}, true},  // the range's start anchors "^"
        {"abc", "c", Range{0, 2}, false},
        {"abc", "x*", {}, true},  // an empty match is a match
        {"abc", "", {}, false},   // the engine compiles no empty pattern
    };
    for (const Case& c : cases) EXPECT_EQ(isMatchedByRegex(c.subject, c.regex, 0, c.range), c.matched) << c.regex;
}

TEST(Regex, ComponentsSeparatedAndMatched) {
    struct Split { std::string subject, regex; Strings pieces; };
    const Split splits[] = {
        {"a, b,,c", ",\\s*", {"a", "b", "", "c"}},
        {"a,b,", ",", {"a", "b", ""}},
        {"abc", ",", {"abc"}},
        {"", ",", {""}},
        {"one  two\tthree", "\\s+", {"one", "two", "three"}},
    };
    for (const Split& s : splits) EXPECT_EQ(componentsSeparatedByRegex(s.subject, s.regex), s.pieces) << s.subject;
    EXPECT_EQ(componentsSeparatedByRegex("a,b,c,d", ",", 0, Range{2, 3}), (Strings{"b", "c"}));

    EXPECT_EQ(componentsMatchedByRegex("a1b22c333", "\\d+"), (Strings{"1", "22", "333"}));
    EXPECT_EQ(componentsMatchedByRegex("k1=v1;k2=v2", "(\\w+)=(\\w+)", 0, {}, 1), (Strings{"k1", "k2"}));
    EXPECT_EQ(componentsMatchedByRegex("a1b22c333", "\\d+", 0, Range{0, 4}), (Strings{"1", "2"}));
    EXPECT_TRUE(componentsMatchedByRegex("abc", "\\d").empty());
    EXPECT_EQ(componentsMatchedByRegex("ac abc", "a(b)?c", 0, {}, 1), (Strings{"", "b"}));
}

TEST(Regex, CaptureComponents) {
    EXPECT_EQ(captureComponentsMatchedByRegex("k1=v1;k2=v2", "(\\w+)=(\\w+)"), (Strings{"k1=v1", "k1", "v1"}));
    EXPECT_TRUE(captureComponentsMatchedByRegex("none", "(\\d)").empty());
    EXPECT_EQ(arrayOfCaptureComponentsMatchedByRegex("k1=v1;k2=v2", "(\\w+)=(\\w+)"),
              (std::vector<Strings>{{"k1=v1", "k1", "v1"}, {"k2=v2", "k2", "v2"}}));
}

TEST(Regex, Replacing) {
    struct Case { std::string subject, regex, replacement; OptRange range; std::string result; long count; };
    const Case cases[] = {
        {"2024-12-30", "(\\d+)-(\\d+)-(\\d+)", "$3.$2.$1", {}, "30.12.2024", 1},
        {"aaa aaa", "a", "b", Range{4, 3}, "aaa bbb", 3},
        {"aaa aaa", "a", "b", Range{1, 1}, "aba aaa", 1},
        {"no digits", "\\d", "#", {}, "no digits", 0},
        {"x\xc3\xa9x", "\xc3\xa9", "\\$", {}, "x$x", 1},
        {"abc", "x*", "-", {}, "-a-b-c-", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject + " / " + c.regex);
        EXPECT_EQ(stringByReplacingOccurrencesOfRegex(c.subject, c.regex, c.replacement, 0, c.range), c.result);
        std::string mutableText = c.subject;
        EXPECT_EQ(replaceOccurrencesOfRegex(mutableText, c.regex, c.replacement, 0, c.range), c.count);
        EXPECT_EQ(mutableText, c.result);
    }
    // A failure leaves the string alone.
    std::string text = "abc";
    ErrorPtr error;
    EXPECT_EQ(replaceOccurrencesOfRegex(text, "(", "x", 0, {}, &error), -1);
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(error);
    // A bad group reference in the replacement is the engine's failure.
    error.reset();
    EXPECT_EQ(stringByReplacingOccurrencesOfRegex("abc", "b", "$9", 0, {}, &error), std::nullopt);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "RKLICURegexException");
    EXPECT_EQ(error->message.rfind("ICU regular expression error #", 0), 0u) << error->message;
}

TEST(Regex, CaptureCountsAndValidity) {
    struct Case { std::string pattern; long count; };
    const Case cases[] = {{"abc", 0}, {"(a)(b(c))", 3}, {"(?:a)(b)", 1}, {"(", -1}, {"a{2,1}", -1}};
    // The engine refuses an empty pattern.
    ErrorPtr emptyError;
    EXPECT_EQ(captureCountForRegex("", 0, &emptyError), -1);
    EXPECT_TRUE(emptyError);
    for (const Case& c : cases) {
        EXPECT_EQ(captureCountForRegex(c.pattern), c.count) << c.pattern;
        EXPECT_EQ(captureCountWithOptions(c.pattern), c.count) << c.pattern;
        EXPECT_EQ(isRegexValidWithOptions(c.pattern), c.count >= 0) << c.pattern;
    }
    // Unknown flags do not compile.
    EXPECT_FALSE(isRegexValidWithOptions("a", 0x40000000));
}

TEST(Regex, CompileErrorDetails) {
    ErrorPtr error;
    EXPECT_EQ(rangeOfRegex("abc", "a(b", 0, {}, 0, &error), kNone);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "RKLICURegexErrorDomain");
    EXPECT_EQ(error->code, long(U_REGEX_MISMATCHED_PAREN));
    EXPECT_EQ(error->message, "There was an error compiling the regular expression.");
    Value info = regexErrorUserInfo(error);
    EXPECT_EQ(info["RKLICURegexRegex"].stringValue(), "a(b");
    EXPECT_EQ(info["RKLICURegexErrorName"].stringValue(), "U_REGEX_MISMATCHED_PAREN");
    EXPECT_EQ(info["RKLICURegexErrorCode"].intValue(), long(U_REGEX_MISMATCHED_PAREN));
    EXPECT_EQ(info["RKLICURegexRegexOptions"].intValue(), 0);
    EXPECT_EQ(info["NSLocalizedDescription"].stringValue(), error->message);
    const std::string reason = info["NSLocalizedFailureReason"].stringValue();
    EXPECT_EQ(reason.rfind("The error U_REGEX_MISMATCHED_PAREN occurred", 0), 0u) << reason;
    if (info["RKLICURegexOffset"].intValue() >= 0) {
        EXPECT_NE(reason.find("<<HERE>>"), std::string::npos) << reason;
    }
    for (const char* key : {"RKLICURegexLine", "RKLICURegexOffset", "RKLICURegexPreContext", "RKLICURegexPostContext"})
        EXPECT_TRUE(info.has(key)) << key;
    // Every family answers its empty result.
    EXPECT_TRUE(componentsSeparatedByRegex("a,b", "(", 0, {}, &error).empty());
    EXPECT_FALSE(isMatchedByRegex("a", "[", 0, {}, &error));
    EXPECT_TRUE(regexErrorUserInfo(makeError("Other", 1, "x")).isNull());
}

TEST(Regex, MisuseIsReportedNotRaised) {
    struct Case { OptRange range; long capture; const char* domain; const char* reason; };
    const Case cases[] = {
        {Range{2, 5}, 0, "NSRangeException", "Range or index out of bounds"},
        {Range{4, 0}, 0, "NSRangeException", "Range or index out of bounds"},
        {Range{Range::kNotFound, 1}, 0, "NSRangeException", "Range or index out of bounds"},
        {{}, 2, "NSInvalidArgumentException", "The capture argument is not valid."},
        {{}, -1, "NSInvalidArgumentException", "The capture argument is not valid."},
    };
    for (const Case& c : cases) {
        ErrorPtr error;
        EXPECT_EQ(rangeOfRegex("abc", "(b)", 0, c.range, c.capture, &error), kNone);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, c.domain);
        EXPECT_EQ(error->message, std::string("*** -[NSString rangeOfRegex:options:inRange:capture:error:]: ") + c.reason);
    }
    EXPECT_EQ(rangeOfRegex("abc", "(b)", 0, Range{3, 0}), kNone);  // an empty range at the end is fine
    EXPECT_EQ(rangeOfRegex("abc", "(b)", 0, {}, 1), (Range{1, 1}));
}

TEST(Regex, CacheCompilesOnceAndConvertsEachSubjectOnce) {
    RegexCache::resetForTesting();
    RegexCache& cache = RegexCache::shared();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(isMatchedByRegex("subject one", "one"));
    EXPECT_EQ(cache.compileCount(), 1);
    EXPECT_EQ(cache.conversionCount(), 1);
    EXPECT_FALSE(isMatchedByRegex("subject two", "one"));
    EXPECT_EQ(cache.conversionCount(), 2);
    EXPECT_TRUE(isMatchedByRegex("subject two", "t[wW]o"));
    EXPECT_EQ(cache.compileCount(), 2);
    // Back to the first pattern: still in its slot.
    EXPECT_TRUE(isMatchedByRegex("subject one", "one"));
    EXPECT_EQ(cache.compileCount(), 2);
    // Options are part of the key.
    EXPECT_TRUE(isMatchedByRegex("subject ONE", "one", UREGEX_CASE_INSENSITIVE));
    EXPECT_EQ(cache.compileCount(), 3);

    const long before = cache.conversionCount();
    EXPECT_TRUE(isMatchedByRegex("subject ONE", "one", UREGEX_CASE_INSENSITIVE));
    EXPECT_EQ(cache.conversionCount(), before);
    flushCachedRegexData("subject ONE");
    EXPECT_TRUE(isMatchedByRegex("subject ONE", "one", UREGEX_CASE_INSENSITIVE));
    EXPECT_EQ(cache.conversionCount(), before + 1);
    clearStringCache();
    EXPECT_TRUE(isMatchedByRegex("subject ONE", "one", UREGEX_CASE_INSENSITIVE));
    EXPECT_EQ(cache.conversionCount(), before + 2);
    // A failed compile leaves nothing behind that a later call could trip over.
    EXPECT_FALSE(isRegexValidWithOptions("("));
    EXPECT_EQ(rangeOfRegex("xyz", "y"), (Range{1, 1}));
    RegexCache::resetForTesting();
}

TEST(Regex, CallsFromManyThreadsAreSerialised) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            const std::string subject = "item-" + std::to_string(t) + "-end";
            for (int i = 0; i < 300; ++i) {
                const std::string pattern = (i % 2) ? "item-(\\d)" : "-(\\d)-";
                if (stringByMatching(subject, pattern, 0, {}, 1) != std::to_string(t)) ++wrong;
                if (componentsSeparatedByRegex(subject, "-").size() != 3) ++wrong;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}
