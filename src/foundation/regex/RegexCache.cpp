#include "foundation/regex/RegexCache.h"

#include <unicode/ustring.h>

#include <climits>

#include "foundation/regex/RegexErrors.h"

namespace telvo {

RegexCache& RegexCache::shared() {
    static RegexCache* cache = new RegexCache();  // lives until exit; blocks may run late
    return *cache;
}

RegexCache::~RegexCache() {
    for (Slot& s : slots_) clearSlot(s);
}

void RegexCache::clearSlot(Slot& slot) {
    if (slot.regex) uregex_close(slot.regex);
    slot = Slot();
}

void RegexCache::dropSubject(Slot& slot) {
    if (!slot.hasSubject) return;
    if (slot.regex) {
        // Detach the engine from the text before the buffer goes.
        static const UChar kEmpty[1] = {0};
        UErrorCode status = U_ZERO_ERROR;
        uregex_setText(slot.regex, kEmpty, 0, &status);
    }
    slot.hasSubject = false;
    slot.subjectHash = 0;
    slot.subject.clear();
    slot.text.clear();
}

bool RegexCache::withSlot(const std::string& pattern, uint32_t options, const std::string* subject, ErrorPtr* error,
                          const std::function<void(Slot&)>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t hash = std::hash<std::string>{}(pattern);
    Slot* slot = nullptr;
    if (last_ && last_->regex && last_->options == options && last_->pattern == pattern) {
        slot = last_;
    } else {
        Slot& chosen = slots_[hash % kSlots];
        if (!(chosen.regex && chosen.options == options && chosen.pattern == pattern)) {
            clearSlot(chosen);
            if (last_ == &chosen) last_ = nullptr;
            // The pattern as UTF-16 for the engine.
            std::u16string text;
            UErrorCode status = U_ZERO_ERROR;
            int32_t needed = 0;
            if (pattern.size() >= size_t(INT_MAX)) {
                regexerr::setMisuse(error, regexerr::kRange, "Regex string length exceeds INT_MAX");
                return false;
            }
            u_strFromUTF8WithSub(nullptr, 0, &needed, pattern.data(), int32_t(pattern.size()), 0xFFFD, nullptr,
                                 &status);
            status = U_ZERO_ERROR;
            text.resize(size_t(needed));
            u_strFromUTF8WithSub(text.data(), needed, &needed, pattern.data(), int32_t(pattern.size()), 0xFFFD,
                                 nullptr, &status);
            UParseError parse{};
            status = U_ZERO_ERROR;
            URegularExpression* regex = uregex_open(text.data(), int32_t(text.size()), options, &parse, &status);
            ++compiles_;
            if (U_FAILURE(status)) {
                if (regex) uregex_close(regex);
                regexerr::setCompileError(error, pattern, options, status, parse);
                return false;
            }
            status = U_ZERO_ERROR;
            chosen.pattern = pattern;
            chosen.options = options;
            chosen.regex = regex;
            chosen.groupCount = uregex_groupCount(regex, &status);
        }
        slot = &chosen;
        last_ = slot;
    }

    if (subject) {
        const size_t subjectHash = std::hash<std::string>{}(*subject);
        if (!(slot->hasSubject && slot->subjectHash == subjectHash && slot->subject == *subject)) {
            dropSubject(*slot);
            UErrorCode status = U_ZERO_ERROR;
            int32_t needed = 0;
            if (subject->size() >= size_t(INT_MAX)) {
                regexerr::setMisuse(error, regexerr::kRange, "String length exceeds INT_MAX");
                return false;
            }
            u_strFromUTF8WithSub(nullptr, 0, &needed, subject->data(), int32_t(subject->size()), 0xFFFD, nullptr,
                                 &status);
            status = U_ZERO_ERROR;
            slot->text.resize(size_t(needed));
            u_strFromUTF8WithSub(slot->text.data(), needed, &needed, subject->data(), int32_t(subject->size()),
                                 0xFFFD, nullptr, &status);
            ++conversions_;
            status = U_ZERO_ERROR;
            uregex_setText(slot->regex, slot->text.data(), int32_t(slot->text.size()), &status);
            slot->hasSubject = true;
            slot->subjectHash = subjectHash;
            slot->subject = *subject;
        } else {
            UErrorCode status = U_ZERO_ERROR;
            uregex_reset(slot->regex, 0, &status);
        }
    }
    body(*slot);
    return true;
}

void RegexCache::flushSubject(const std::string& subject) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& s : slots_)
        if (s.hasSubject && s.subject == subject) dropSubject(s);
}

void RegexCache::clearSubjects() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& s : slots_) dropSubject(s);
}

long RegexCache::compileCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return compiles_;
}

long RegexCache::conversionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return conversions_;
}

void RegexCache::resetForTesting() {
    RegexCache& c = shared();
    std::lock_guard<std::mutex> lock(c.mutex_);
    for (Slot& s : c.slots_) clearSlot(s);
    c.last_ = nullptr;
    c.compiles_ = 0;
    c.conversions_ = 0;
}

}  // namespace telvo
