#include "platform/crypto/Aes256.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace telvo::crypto {

std::optional<Bytes> aes256Cbc(CipherOperation operation, const Bytes& key, const Bytes& iv,
                               const uint8_t* data, size_t length) {
    constexpr size_t kBlock = 16;
    if (key.size() != 32 || (!iv.empty() && iv.size() != kBlock)) return std::nullopt;
    // EVP takes int lengths; leave room for the padding block.
    if (length > size_t(INT_MAX) - kBlock) return std::nullopt;
    if (operation == CipherOperation::Decrypt && length % kBlock != 0) return std::nullopt;

    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    if (!ctx) return std::nullopt;
    const uint8_t zeroIv[kBlock] = {};
    const uint8_t* ivBytes = iv.empty() ? zeroIv : iv.data();
    const int enc = operation == CipherOperation::Encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), ivBytes, enc) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 1);

    // The input length plus one block always holds the result.
    Bytes out(length + kBlock);
    int produced = 0;
    static const uint8_t kNothing = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &produced, length ? data : &kNothing, int(length)) != 1)
        return std::nullopt;
    int last = 0;
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + produced, &last) != 1) return std::nullopt;
    out.resize(size_t(produced) + size_t(last));
    return out;
}

}  // namespace telvo::crypto
