// Name-based service identifiers.
#include "platform/netstate/ServiceIdentifier.h"

#include <cstdio>
#include "platform/crypto/Digest.h"

namespace telvo::netstate {

namespace {
// The namespace of the identifiers (a fixed random UUID of this system).
constexpr unsigned char kNamespace[16] = {0x6b, 0x3e, 0x21, 0x90, 0x5c, 0x4d, 0x4f, 0x1a,
                                          0x9e, 0x27, 0xd2, 0x41, 0x88, 0x0c, 0x73, 0xb5};
}  // namespace

std::string serviceIdentifierForInterface(const std::string& interfaceName) {
    std::string input(reinterpret_cast<const char*>(kNamespace), sizeof kNamespace);
    input += interfaceName;
    crypto::Bytes h = crypto::sha1(input);
    h[6] = static_cast<uint8_t>((h[6] & 0x0f) | 0x50);
    h[8] = static_cast<uint8_t>((h[8] & 0x3f) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", h[0],
                  h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10], h[11], h[12], h[13], h[14], h[15]);
    return text;
}

}  // namespace telvo::netstate
