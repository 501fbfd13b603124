#include "foundation/extensions/DataAES256.h"

#include <cstring>

#include "platform/crypto/Aes256.h"

namespace telvo {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The key buffer: the key string as a C string of at most 32 bytes, zero-padded to 32.
std::optional<Bytes> keyBytes(const std::string& key) {
    const size_t length = strnlen(key.c_str(), key.size());
    if (length > 32) return std::nullopt;
    Bytes buffer(32, 0);
    memcpy(buffer.data(), key.data(), length);
    return buffer;
}

std::optional<Bytes> crypt(crypto::CipherOperation op, const Bytes& data, const std::string& key) {
    auto k = keyBytes(key);
    if (!k) return std::nullopt;
    return crypto::aes256Cbc(op, *k, Bytes{}, data);
}

}  // namespace

std::optional<Bytes> AES256EncryptWithKey(const Bytes& data, const std::string& key) {
    return crypt(crypto::CipherOperation::Encrypt, data, key);
}

std::optional<Bytes> AES256DecryptWithKey(const Bytes& data, const std::string& key) {
    return crypt(crypto::CipherOperation::Decrypt, data, key);
}

std::string base64EncodingWithLineLength(const Bytes& data, unsigned lineLength) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4 + (lineLength ? data.size() / lineLength + 1 : 0));
    uint16_t counter = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        uint32_t group = uint32_t(data[i]) << 16;
        if (n > 1) group |= uint32_t(data[i + 1]) << 8;
        if (n > 2) group |= data[i + 2];
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back(n > 2 ? kAlphabet[group & 63] : '=');
        if (lineLength > 0) {
            counter = uint16_t(counter + 4);
            if (counter >= lineLength) {
                out.push_back('\n');
                counter = 0;
            }
        }
    }
    return out;
}

Bytes initWithBase64EncodedString(const std::optional<std::string>& text) {
    Bytes out;
    if (!text) return out;
    uint32_t group = 0;
    int count = 0;
    for (unsigned char c : *text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=') {
            // An "=" ends the text; what the unfinished group holds is kept.
            if (count == 1 || count == 2) {
                group <<= 6 * (4 - count);
                out.push_back(uint8_t(group >> 16));
            } else if (count == 3) {
                group <<= 6;
                out.push_back(uint8_t(group >> 16));
                out.push_back(uint8_t(group >> 8));
            }
            return out;
        } else {
            continue;
        }
        group = (group << 6) | uint32_t(v);
        if (++count == 4) {
            out.push_back(uint8_t(group >> 16));
            out.push_back(uint8_t(group >> 8));
            out.push_back(uint8_t(group));
            group = 0;
            count = 0;
        }
    }
    return out;
}

}  // namespace telvo
