#pragma once
// The process-wide cache behind the regular-expression operations: 23 slots of compiled
// patterns chosen by the pattern text's hash, plus the slot used last; each slot also keeps the
// subject last set into its pattern (as UTF-16), so repeated calls on one string convert it
// once. One lock guards the whole cache; an operation holds it for its whole run.
#include <unicode/uregex.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Error.h"

namespace telvo {

class RegexCache {
public:
    static constexpr int kSlots = 23;

    struct Slot {
        std::string pattern;
        uint32_t options = 0;
        URegularExpression* regex = nullptr;
        int32_t groupCount = 0;
        bool hasSubject = false;
        size_t subjectHash = 0;
        std::string subject;     // the UTF-8 text last set
        std::u16string text;     // the same as UTF-16, set into `regex`
    };

    static RegexCache& shared();

    // Runs `body` under the cache's lock with the slot compiled for (pattern, options) and, when
    // `subject` is given, with that subject set. A compile failure answers false with `error`
    // describing it and does not run `body`.
    bool withSlot(const std::string& pattern, uint32_t options, const std::string* subject, ErrorPtr* error,
                  const std::function<void(Slot&)>& body);

    void flushSubject(const std::string& subject);
    void clearSubjects();

    // For tests: how often a pattern was compiled and a subject converted since the last reset.
    long compileCount() const;
    long conversionCount() const;
    // Empties every slot and the counters.
    static void resetForTesting();

    ~RegexCache();

private:
    RegexCache() = default;
    static void clearSlot(Slot& slot);
    static void dropSubject(Slot& slot);

    mutable std::mutex mutex_;
    Slot slots_[kSlots];
    Slot* last_ = nullptr;
    long compiles_ = 0;
    long conversions_ = 0;
};

}  // namespace telvo
