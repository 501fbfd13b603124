#include "daemon/Passcode.h"

#include "platform/crypto/Random.h"

namespace telvo::passcode {

uint32_t random32() { return crypto::randomUInt32(); }

std::string fromRandom(uint32_t value) { return std::to_string(10381 + value % 85457); }

std::string generate() { return fromRandom(random32()); }

}  // namespace telvo::passcode
