#pragma once
// The anchor store: the certificates a signing chain must end at ("anchor apple generic").
// A folder of PEM files under the file-system root, trusted only when it and every file in it
// belong to root (or to this process's user) and nobody else may write them, as service
// socket folders are checked.
#include <string>
#include <vector>
#include "platform/Error.h"

namespace telvo::codesign {

// The store's folder as the components name it (resolved under the file-system root).
constexpr const char* kAnchorFolder = "/etc/telvo/codesign/anchors";

// Reads the store from another folder (a host path, not resolved under the root) from now
// on; empty goes back to kAnchorFolder. For tools that check files outside the root.
void setAnchorFolder(const std::string& hostFolder);

// The DER bytes of every certificate in the store's "*.pem" files. false (and *error, status
// kStatusNoAnchors) when the folder is missing or unsafe, or a file is unsafe or unreadable.
bool loadAnchors(std::vector<std::string>& ders, ErrorPtr* error = nullptr);

// Checks one folder or file: owned by root or this user, not writable by group or others,
// no symbolic link.
ErrorPtr checkTrustedPath(const std::string& hostPath, bool folder);

}  // namespace telvo::codesign
