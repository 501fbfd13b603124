#pragma once
// Result statuses of the keychain store, with the numbers the Security framework gives them
// (components compare against these and carry them in their error objects).
#include <cstdint>

namespace telvo::keychain {

using OSStatus = int32_t;

constexpr OSStatus errSecSuccess = 0;
constexpr OSStatus errSecUnimplemented = -4;
constexpr OSStatus errSecIO = -36;
constexpr OSStatus errSecParam = -50;
constexpr OSStatus errSecAllocate = -108;
constexpr OSStatus errSecWrPerm = -61;
constexpr OSStatus errSecPkcs12VerifyFailure = -25264;
constexpr OSStatus errSecNotAvailable = -25291;
constexpr OSStatus errSecReadOnly = -25292;
constexpr OSStatus errSecAuthFailed = -25293;
constexpr OSStatus errSecNoSuchKeychain = -25294;
constexpr OSStatus errSecInvalidKeychain = -25295;
constexpr OSStatus errSecDuplicateKeychain = -25296;
constexpr OSStatus errSecDuplicateItem = -25299;
constexpr OSStatus errSecItemNotFound = -25300;
constexpr OSStatus errSecInteractionNotAllowed = -25308;
constexpr OSStatus errSecDecode = -26275;

// A short English text for a status, for log lines.
const char* statusMessage(OSStatus status);

}  // namespace telvo::keychain
