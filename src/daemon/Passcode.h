#pragma once
// Passcodes and the port-map identifier: the decimal text of 10381 plus a 32-bit number from
// the kernel's CSPRNG modulo 85457, so always five digits and never below 10381.
#include <cstdint>
#include <string>

namespace telvo::passcode {

// A 32-bit number from the CSPRNG.
uint32_t random32();
std::string generate();
// The rule alone, for a given 32-bit number.
std::string fromRandom(uint32_t value);

}  // namespace telvo::passcode
