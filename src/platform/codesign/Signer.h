#pragma once
// Signing: fills a program's signature section, or writes a bundle's signature file, with a
// CMS signature of the code directory made with a signing identity.
#include <cstdint>
#include <string>
#include "platform/Error.h"
#include "platform/codesign/Cms.h"

namespace telvo::codesign {

// Signs an ELF executable in place (its signature section must be there, reserved at link
// time). The file is rewritten through a temporary file and a rename.
bool signExecutable(const std::string& path, const std::string& identifier, const SigningIdentity& identity,
                    uint32_t flags = 0, ErrorPtr* error = nullptr);

// Signs a bundle folder: seals every file under "Contents/" and writes
// "Contents/_CodeSignature/CodeSignature". An empty identifier takes "CFBundleIdentifier" of
// "Contents/Info.plist"; the executable is "Contents/MacOS/<CFBundleExecutable>".
bool signBundle(const std::string& path, const std::string& identifier, const SigningIdentity& identity,
                uint32_t flags = 0, ErrorPtr* error = nullptr);

}  // namespace telvo::codesign
