#pragma once
// AES-256 encryption of a whole data object with a key string, as the installation steps and
// the privileged helper exchange their command dictionaries, plus Base64 text conversion.
#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace telvo {

// AES-256-CBC with PKCS#7 padding and an all-zero IV. The key is the key string's UTF-8 bytes
// (up to a NUL, as a C string) padded with zero bytes to 32. Nothing on failure, and for a key
// string longer than 32 bytes, which fits no AES-256 key.
std::optional<Bytes> AES256EncryptWithKey(const Bytes& data, const std::string& key);
// The inverse; nothing on failure (a wrong key shows as bad padding in almost every case).
std::optional<Bytes> AES256DecryptWithKey(const Bytes& data, const std::string& key);

// Base64 (RFC 4648 alphabet, "=" padding). With a line length above 0 a "\n" follows every
// line of that many characters rounded up to a multiple of 4, the last full one included;
// 0 means one line.
std::string base64EncodingWithLineLength(const Bytes& data, unsigned lineLength);
// Decodes Base64 text, skipping every byte outside the alphabet; the first "=" ends it.
// No text (nil) gives empty data.
Bytes initWithBase64EncodedString(const std::optional<std::string>& text);

}  // namespace telvo
