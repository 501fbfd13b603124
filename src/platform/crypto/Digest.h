#pragma once
// Message digests over OpenSSL's libcrypto (MD5, SHA-1, SHA-256) and their lowercase
// hexadecimal text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvo::crypto {

using Bytes = std::vector<uint8_t>;

Bytes md5(const void* data, size_t length);
Bytes sha1(const void* data, size_t length);
Bytes sha256(const void* data, size_t length);

inline Bytes md5(std::string_view s) { return md5(s.data(), s.size()); }
inline Bytes sha1(std::string_view s) { return sha1(s.data(), s.size()); }
inline Bytes sha256(std::string_view s) { return sha256(s.data(), s.size()); }

// Every byte as two lowercase hexadecimal digits ("%02x"), in order.
std::string hexString(const Bytes& bytes);

}  // namespace telvo::crypto
