#pragma once
// AES-256 in CBC mode with PKCS#7 padding over OpenSSL's libcrypto: the cipher behind the
// data extension that encrypts the installer's command dictionaries.
#include <cstdint>
#include <optional>
#include <vector>

namespace telvo::crypto {

using Bytes = std::vector<uint8_t>;

enum class CipherOperation { Encrypt = 0, Decrypt = 1 };

// One whole-buffer pass. `key` must hold 32 bytes and `iv` 16 (an empty `iv` means sixteen
// zero bytes). Encryption always adds padding (0 bytes give 16, 16 give 32); decryption checks
// it. Answers nothing on any failure: a bad key or IV size, a ciphertext that is not a whole
// number of blocks, or bad padding (which is how a wrong key shows in almost every case).
std::optional<Bytes> aes256Cbc(CipherOperation operation, const Bytes& key, const Bytes& iv,
                               const uint8_t* data, size_t length);

inline std::optional<Bytes> aes256Cbc(CipherOperation operation, const Bytes& key, const Bytes& iv,
                                      const Bytes& data) {
    return aes256Cbc(operation, key, iv, data.data(), data.size());
}

}  // namespace telvo::crypto
