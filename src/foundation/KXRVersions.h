#pragma once
// The process-wide record of the operating-system release, with one yes/no answer per named
// release; code that must choose between a modern and an older route asks it.
#include <cstdint>
#include <mutex>

// glibc's <sys/sysmacros.h> defines function-like macros of these names.
#ifdef major
#undef major
#endif
#ifdef minor
#undef minor
#endif

namespace telvo {

class KXRVersions {
public:
    // The one record, made on first use and kept for the life of the process.
    static KXRVersions& sharedVersions();
    static void resetForTesting();

    // Fills the record from the running system.
    KXRVersions();
    // A record for the given numbers, predicates evaluated and stored as init does.
    KXRVersions(int64_t major, int64_t minor, int64_t bugfix);

    // Live predicates, computed from major and minor on every call.
    bool lion() const { return isAfter(6); }
    bool mountainLion() const { return isAfter(7); }
    bool mavericks() const { return isAfter(8); }
    bool yosemite() const { return isAfter(9); }
    bool elCapitan() const { return isAfter(10); }
    bool sierra() const { return isAfter(11); }
    bool highSierra() const { return isAfter(12); }

    // Stored answers, fixed when the record is filled.
    bool isMavericks() const { return isMavericks_; }
    bool isYosemite() const { return isYosemite_; }
    bool isElCapitan() const { return isElCapitan_; }
    bool isSierra() const { return isSierra_; }
    bool isHighSierra() const { return isHighSierra_; }
    bool isSetApp() const { return isSetApp_; }
    bool isMountainLion() const { return isMountainLion_; }
    bool isLion() const { return isLion_; }
    int64_t major() const { return major_; }
    int64_t minor() const { return minor_; }
    int64_t bugfix() const { return bugfix_; }

    void setIsMavericks(bool v) { isMavericks_ = v; }
    void setIsYosemite(bool v) { isYosemite_ = v; }
    void setIsElCapitan(bool v) { isElCapitan_ = v; }
    void setIsSierra(bool v) { isSierra_ = v; }
    void setIsHighSierra(bool v) { isHighSierra_ = v; }
    void setIsSetApp(bool v) { isSetApp_ = v; }
    void setIsMountainLion(bool v) { isMountainLion_ = v; }
    void setIsLion(bool v) { isLion_ = v; }
    void setMajor(int64_t v) { major_ = v; }
    void setMinor(int64_t v) { minor_ = v; }
    void setBugfix(int64_t v) { bugfix_ = v; }

    // The release level this build's platform layer provides (see KXRVersions.cpp).
    static constexpr int64_t kProvidedMajor = 10;
    static constexpr int64_t kProvidedMinor = 13;
    static constexpr int64_t kProvidedBugfix = 0;

private:
    bool isAfter(int64_t minorThreshold) const {
        if (major_ > 10) return true;
        if (major_ < 10) return false;
        return minor_ > minorThreshold;
    }
    void storePredicates();

    bool isMavericks_ = false;
    bool isYosemite_ = false;
    bool isElCapitan_ = false;
    bool isSierra_ = false;
    bool isHighSierra_ = false;
    bool isSetApp_ = false;
    bool isMountainLion_ = false;
    bool isLion_ = false;
    int64_t major_ = 0;
    int64_t minor_ = 0;
    int64_t bugfix_ = 0;
};

}  // namespace telvo
