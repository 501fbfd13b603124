#include "platform/crypto/Uuid.h"

#include <cstdio>

#include "platform/crypto/Random.h"

namespace telvo::crypto {

std::string newUUIDString() {
    unsigned char b[16];
    randomBytes(b, sizeof b);
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    std::string out;
    char hex[3];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        std::snprintf(hex, sizeof hex, "%02X", b[i]);
        out += hex;
    }
    return out;
}

}  // namespace telvo::crypto
