#pragma once
// The signature section of an ELF executable: a fixed-size, zero-filled section reserved at
// link time (see cmake/CodesignSection.c), which the signing tool fills with a signature blob
// and which the executable's digest reads as zeros.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::codesign {

constexpr const char* kSectionName = ".telvo_codesign";
constexpr size_t kSectionSize = 16384;
// Blob inside the section: magic "TCS1", a 32-bit big-endian length, then the DER signature.
constexpr size_t kBlobHeaderSize = 8;

struct SectionRange {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Finds the signature section in the bytes of a 64-bit little-endian ELF file. false (and
// *error) when the bytes are no such ELF file, its headers point outside the file, or it has
// no signature section; `found` is then left as it was.
bool findSignatureSection(std::string_view elf, SectionRange& found, ErrorPtr* error = nullptr);
// The same for an opened file of `size` bytes, read with pread (headers and names only).
bool findSignatureSection(int fd, uint64_t size, SectionRange& found, ErrorPtr* error = nullptr);

// Finds a section by name (its bytes in the file; a section without file bytes is not found).
bool findSection(std::string_view elf, std::string_view name, SectionRange& found, ErrorPtr* error = nullptr);

// The property list that a program carries in a section (its XML text, NUL-padded), read from
// the file's bytes; null (and *error) when the file or the section is not there or holds no
// property list. Programs carry their Info dictionary in kInfoSectionName and their launchd
// job in kLaunchdSectionName.
constexpr const char* kInfoSectionName = ".telvo_info_plist";
constexpr const char* kLaunchdSectionName = ".telvo_launchd_plist";
Value readEmbeddedPropertyList(std::string_view elf, std::string_view sectionName, ErrorPtr* error = nullptr);
// The same from a file (a path under the file-system root), opened without following a link.
Value readEmbeddedPropertyListFromFile(const std::string& path, std::string_view sectionName, ErrorPtr* error = nullptr);

// The DER signature held by a section's bytes: true with `der` filled when a blob is there,
// true with `der` empty when the section is all zeros (unsigned), false when the section holds
// something that is no valid blob.
bool readSignatureBlob(std::string_view section, std::string& der);

// The section bytes for a DER signature (zero-padded); false when it does not fit.
bool makeSignatureBlob(const std::string& der, size_t sectionSize, std::string& section);

// SHA-256 of the ELF bytes with the section's range read as zeros.
std::string executableDigest(std::string_view elf, const SectionRange& section);

}  // namespace telvo::codesign
