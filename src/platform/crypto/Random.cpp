#include "platform/crypto/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace telvo::crypto {

void randomBytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(p, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Without the kernel's generator there is no safe fallback; a predictable passcode
            // or key would be worse than stopping.
            perror("getrandom");
            abort();
        }
        p += n;
        length -= size_t(n);
    }
}

std::vector<uint8_t> randomBytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    randomBytes(bytes.data(), length);
    return bytes;
}

uint32_t randomUInt32() {
    uint32_t v;
    randomBytes(&v, sizeof v);
    return v;
}

uint64_t randomUInt64() {
    uint64_t v;
    randomBytes(&v, sizeof v);
    return v;
}

uint32_t randomUniform(uint32_t upperBound) {
    if (upperBound < 2) return 0;
    // Reject the low values that would make some results more likely than others.
    const uint32_t min = -upperBound % upperBound;
    for (;;) {
        uint32_t r = randomUInt32();
        if (r >= min) return r % upperBound;
    }
}

}  // namespace telvo::crypto
