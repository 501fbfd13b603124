#pragma once
// One SMC key's value as read: its size, its four-character data type and 32 raw bytes.
#include <cstdint>

namespace telvo {

struct SMCResultData {
    uint32_t dataSize = 0;
    char dataType[5] = {};
    uint8_t bytes[32] = {};
};

}  // namespace telvo
