#include "foundation/KXRVersions.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace telvo {
namespace {

std::mutex gSharedMutex;
std::unique_ptr<KXRVersions> gShared;

}  // namespace

KXRVersions& KXRVersions::sharedVersions() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = std::make_unique<KXRVersions>();
    return *gShared;
}

void KXRVersions::resetForTesting() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared.reset();
}

// The record does not report the kernel's version. Every question asked of it is "does this
// system offer the facilities of release X or later", and on Linux the answer is given by our
// own platform layer, which provides the modern facilities throughout: the XPC-style service
// routes, TLS with a modern minimum, the newer memory and process counters. So the record
// answers the highest release any component compares against, 10.13 (the newest predicate,
// highSierra, tests for it), and every "10.8 or later" test and every later one passes. The
// kernel's "6.1" would make every predicate fail and send the daemon down routes that have no
// Linux counterpart.
//
// A test setting, TELVO_OS_VERSION ("10.7", "10.12.6"), names another release, so that a test
// can send the daemon and the control application down the older routes together.
KXRVersions::KXRVersions() : KXRVersions(kProvidedMajor, kProvidedMinor, kProvidedBugfix) {
    const char* forced = std::getenv("TELVO_OS_VERSION");
    if (!forced || !*forced) return;
    long long major = 0, minor = 0, bugfix = 0;
    int n = std::sscanf(forced, "%lld.%lld.%lld", &major, &minor, &bugfix);
    if (n < 1) return;
    major_ = major;
    minor_ = n >= 2 ? minor : 0;
    bugfix_ = n >= 3 ? bugfix : 0;
    storePredicates();
}

KXRVersions::KXRVersions(int64_t major, int64_t minor, int64_t bugfix)
    : major_(major), minor_(minor), bugfix_(bugfix) {
    storePredicates();
}

void KXRVersions::storePredicates() {
    isMavericks_ = mavericks();
    isYosemite_ = yosemite();
    isElCapitan_ = elCapitan();
    isSierra_ = sierra();
    isHighSierra_ = highSierra();
    isMountainLion_ = mountainLion();
    isLion_ = lion();
    isSetApp_ = false;
}

}  // namespace telvo
