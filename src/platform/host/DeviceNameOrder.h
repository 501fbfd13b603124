#pragma once
// The order device names are listed in: runs of digits compare as numbers, so "sda" comes
// before "sdb" and "vda2" before "vda10".
#include <string>

namespace telvo::host {

// True when `a` comes before `b` in that order (a strict weak order, for std::sort).
bool deviceNameLess(const std::string& a, const std::string& b);

}  // namespace telvo::host
