#pragma once
// What the update windows ask of a downloaded application before it is copied into place
// (possibly as root) and before it is started: signed by the maker (the anchor store's chain,
// signing identifier "com.kestro.TelvoServer", every file sealed), "CFBundleIdentifier"
// "com.kestro.telvoserver", and "CFBundleVersion" the build that was offered.
#include <cstdint>
#include <string>

#include "platform/Error.h"

namespace telvo::app {

constexpr const char* kApplicationSigningIdentifier = "com.kestro.TelvoServer";
constexpr const char* kApplicationBundleIdentifier = "com.kestro.telvoserver";

// True when the application at `path` (a host path inside the file-system root) passes;
// otherwise *error says why.
bool checkUpdatePayload(const std::string& path, int64_t offeredBuild, ErrorPtr* error);

}  // namespace telvo::app
