#pragma once
// What the agent asks of a downloaded application before any of its code is loaded: signed by
// the maker (the anchor store's chain, signing identifier "com.kestro.TelvoServer", every file
// sealed), "CFBundleIdentifier" "com.kestro.telvoserver", and "CFBundleVersion" the build that
// was offered and above this build's.
#include <cstdint>
#include <string>

#include "platform/Error.h"

namespace telvo::agent {

constexpr const char* kApplicationSigningIdentifier = "com.kestro.TelvoServer";
constexpr const char* kApplicationBundleIdentifier = "com.kestro.telvoserver";

// True when the application at `path` (a host path) passes; otherwise *error says why.
bool checkDownloadedApplication(const std::string& path, int64_t offeredBuild, int64_t currentBuild, ErrorPtr* error);

}  // namespace telvo::agent
