#pragma once
// Random (version 4) UUIDs in their upper-case 8-4-4-4-12 text form.
#include <string>

namespace telvo::crypto {

std::string newUUIDString();

}  // namespace telvo::crypto
