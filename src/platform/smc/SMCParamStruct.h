#pragma once
// The 80-byte record exchanged with the SMC, one command per exchange, in host order with every
// offset fixed; the result codes and status values of an exchange.
#include <cstddef>
#include <cstdint>

namespace telvo::smc {

struct SMCVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t build = 0;
    uint8_t reserved = 0;
    uint16_t release = 0;
};

struct SMCPLimitData {
    uint16_t limitsVersion = 0;
    uint16_t limitsLength = 0;
    uint32_t cpuLimit = 0;
    uint32_t gpuLimit = 0;
    uint32_t memoryLimit = 0;
};

struct SMCKeyInfoData {
    uint32_t dataSize = 0;
    uint32_t dataType = 0;
    uint8_t dataAttributes = 0;
};

struct SMCParamStruct {
    uint32_t key = 0;
    SMCVersion vers;
    SMCPLimitData pLimitData;
    SMCKeyInfoData keyInfo;
    uint8_t result = 0;
    uint8_t status = 0;
    uint8_t data8 = 0;  // the command
    uint32_t data32 = 0;
    uint8_t bytes[32] = {};
};

static_assert(sizeof(SMCParamStruct) == 80);
static_assert(offsetof(SMCParamStruct, keyInfo) == 28);
static_assert(offsetof(SMCParamStruct, result) == 40);
static_assert(offsetof(SMCParamStruct, data8) == 42);
static_assert(offsetof(SMCParamStruct, data32) == 44);
static_assert(offsetof(SMCParamStruct, bytes) == 48);

// Commands (the record's `data8`).
inline constexpr uint8_t kSMCReadKey = 5;
inline constexpr uint8_t kSMCWriteKey = 6;
inline constexpr uint8_t kSMCGetKeyFromIndex = 8;
inline constexpr uint8_t kSMCGetKeyInfo = 9;

// The SMC's result byte.
inline constexpr uint8_t kSMCSuccess = 0;
inline constexpr uint8_t kSMCKeyNotFound = 0x84;

// Status of an exchange or an open (the numbers of the kernel-return codes they stand for).
using SMCStatus = int;
inline constexpr SMCStatus kSMCReturnSuccess = 0;
inline constexpr SMCStatus kSMCReturnError = 0x2bc;
inline constexpr SMCStatus kSMCReturnNotFound = 0x2f0;
inline constexpr SMCStatus kSMCReturnUnsupported = 0x2c7;
inline constexpr SMCStatus kSMCReturnInternalError = 0x2ca;
inline constexpr SMCStatus kSMCReturnNotPrivileged = 0x2c1;

// A key's four characters packed big-endian; 0 for a text shorter than four bytes.
inline uint32_t packKey(const char* text, size_t length) {
    if (!text || length < 4) return 0;
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

}  // namespace telvo::smc
