#include "foundation/extensions/StringMD5.h"

#include "platform/crypto/Digest.h"

namespace telvo {

std::string MD5(const std::string& text) { return crypto::hexString(crypto::md5(text)); }

std::string MD5Numeric(const std::string& text) {
    std::string digits;
    for (char c : MD5(text)) digits += std::to_string(int(static_cast<unsigned char>(c)));
    std::string out;
    for (char c : digits)
        if (c != '0') out.push_back(c);
    return out;
}

}  // namespace telvo
