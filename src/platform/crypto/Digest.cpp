#include "platform/crypto/Digest.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace telvo::crypto {
namespace {

Bytes digest(const EVP_MD* md, const void* data, size_t length) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    static const unsigned char kNothing = 0;
    if (EVP_Digest(length ? data : &kNothing, length, out, &size, md, nullptr) != 1) {
        // The digests are built into every libcrypto; failing here means the library is broken.
        abort();
    }
    return Bytes(out, out + size);
}

}  // namespace

Bytes md5(const void* data, size_t length) { return digest(EVP_md5(), data, length); }
Bytes sha1(const void* data, size_t length) { return digest(EVP_sha1(), data, length); }
Bytes sha256(const void* data, size_t length) { return digest(EVP_sha256(), data, length); }

std::string hexString(const Bytes& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0xf]);
    }
    return text;
}

}  // namespace telvo::crypto
