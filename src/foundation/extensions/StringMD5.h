#pragma once
// MD5 digests of strings as text: the device and identifier hashes.
#include <string>

namespace telvo {

// The MD5 digest of all the string's UTF-8 bytes as 32 lowercase hexadecimal digits.
std::string MD5(const std::string& text);
// The MD5 text with each character written as its decimal character code, joined, every "0"
// removed.
std::string MD5Numeric(const std::string& text);

}  // namespace telvo
