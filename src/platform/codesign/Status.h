#pragma once
// The status codes of code-signature checks (our own numbering, in the range the checker's
// callers expect of a signature service) and their texts.
#include <cstdint>
#include <string>

namespace telvo::codesign {

enum Status : int32_t {
    kStatusOK = 0,
    kStatusNoSuchCode = -67065,         // no process or file to check
    kStatusUnsigned = -67062,           // no signature at all
    kStatusSignatureFailed = -67061,    // the code or the signature was modified
    kStatusNotVerifiable = -67060,      // the signature cannot be read
    kStatusResourcesInvalid = -67055,   // a file of a bundle was added, removed or changed
    kStatusRequirementInvalid = -67052, // the requirement text cannot be parsed
    kStatusRequirementFailed = -67050,  // the code does not satisfy the requirement
    kStatusBadObjectFormat = -67049,    // the executable is no ELF file we can read
    kStatusGuestInvalid = -67063,       // the process changed, is traced or loads foreign code
    kStatusUntrusted = -67045,          // the chain does not end at a trusted anchor
    kStatusNoAnchors = -67044,          // the anchor store is missing or not safe
};

// The text of a status; empty for a status we do not know.
std::string statusText(int32_t status);

}  // namespace telvo::codesign
