#include "daemon/Passcode.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace telvo::passcode {

uint32_t random32() {
    uint32_t value = 0;
    auto* p = reinterpret_cast<unsigned char*>(&value);
    size_t done = 0;
    while (done < sizeof value) {
        ssize_t n = getrandom(p + done, sizeof value - done, 0);
        if (n > 0) {
            done += size_t(n);
        } else if (errno != EINTR) {
            // No CSPRNG: refuse to make a guessable secret.
            perror("getrandom");
            abort();
        }
    }
    return value;
}

std::string fromRandom(uint32_t value) { return std::to_string(10381 + value % 85457); }

std::string generate() { return fromRandom(random32()); }

}  // namespace telvo::passcode
