#pragma once
// Random numbers, always from the kernel's CSPRNG (getrandom). Nothing in the system draws
// from a seeded generator.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvo::crypto {

// Fills `length` bytes; blocks only until the kernel pool is initialised at boot.
void randomBytes(void* buffer, size_t length);
std::vector<uint8_t> randomBytes(size_t length);
uint32_t randomUInt32();
uint64_t randomUInt64();
// Uniform in [0, upperBound) without modulo bias; 0 when `upperBound` is below 2.
uint32_t randomUniform(uint32_t upperBound);

}  // namespace telvo::crypto
