#pragma once
// The code directory: what a signature seals. The signing identifier, flags, the SHA-256 of
// the executable (its signature section read as zeros) and, for a bundle, the path, mode and
// SHA-256 of every other file under "Contents/" (symbolic links by their target text). It is
// stored as an XML property list, the content of the CMS signature.
#include <cstdint>
#include <string>
#include <vector>
#include "platform/Error.h"

namespace telvo::codesign {

struct SealedFile {
    std::string path;    // relative to the bundle, e.g. "Contents/Info.plist"
    uint32_t mode = 0;   // permission bits and file type (S_IFREG, S_IFLNK)
    std::string sha256;  // raw digest of a regular file's bytes
    std::string link;    // target text of a symbolic link
    bool operator==(const SealedFile&) const = default;
};

struct CodeDirectory {
    std::string identifier;
    uint32_t flags = 0;
    std::string executable;      // relative path in a bundle; empty for a lone executable
    std::string executableHash;  // raw SHA-256
    std::vector<SealedFile> files;  // sorted by path; empty for a lone executable
    bool operator==(const CodeDirectory&) const = default;

    std::string serialize() const;
    // Parses a serialized directory; false (and *error) for anything malformed.
    static bool parse(const std::string& text, CodeDirectory& out, ErrorPtr* error = nullptr);
};

// The folder a bundle keeps its signature in, and the file.
constexpr const char* kBundleSignaturePath = "Contents/_CodeSignature/CodeSignature";

// Seals every file under "<bundle>/Contents" except the signature file, sorted by path. false
// (and *error) when a file cannot be read or is of another type (device, socket, fifo).
bool sealBundleFiles(const std::string& bundleHostPath, std::vector<SealedFile>& files, ErrorPtr* error = nullptr);

}  // namespace telvo::codesign
