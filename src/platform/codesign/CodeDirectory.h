#pragma once
// The code directory: what a signature seals. The signing identifier, flags, the SHA-256 of
// the executable (its signature section read as zeros) and, for a bundle, everything under
// "Contents/" but the signature file: every folder by its path and mode (so that no file or
// folder can be added, and none opened to others), every regular file by its path, mode and
// SHA-256, every symbolic link by its path and target text. A link whose target could leave
// "Contents/" is refused. It is stored as an XML property list, the content of the CMS
// signature.
#include <cstdint>
#include <string>
#include <vector>
#include "platform/Error.h"

namespace telvo::codesign {

struct SealedFile {
    std::string path;    // relative to the bundle, e.g. "Contents/Info.plist"
    uint32_t mode = 0;   // permission bits and file type (S_IFREG, S_IFDIR, S_IFLNK)
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

// Seals "Contents" and everything under it except the signature file, sorted by path, walking
// the opened bundle folder without following a link; files are opened without blocking and
// digested by streaming. false (and *error) when a file cannot be read, is of another type
// (device, socket, FIFO), a link could leave "Contents/", or the files hold more than 4 GiB.
bool sealBundleFiles(int bundleFolder, std::vector<SealedFile>& files, ErrorPtr* error = nullptr);
bool sealBundleFiles(const std::string& bundleHostPath, std::vector<SealedFile>& files, ErrorPtr* error = nullptr);

// Whether a link at `linkPath` ("Contents/...") with that target text stays inside
// "Contents/" whatever the links it passes: a relative target whose ".." all come first and do
// not climb above "Contents".
bool linkStaysInBundle(const std::string& linkPath, const std::string& target);

}  // namespace telvo::codesign
