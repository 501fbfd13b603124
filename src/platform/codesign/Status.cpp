// Texts of the code-signature statuses.
#include "platform/codesign/Status.h"

namespace telvo::codesign {

std::string statusText(int32_t status) {
    switch (status) {
    case kStatusOK: return "No error.";
    case kStatusNoSuchCode: return "code not found";
    case kStatusUnsigned: return "code object is not signed at all";
    case kStatusSignatureFailed: return "invalid signature (code or signature have been modified)";
    case kStatusNotVerifiable: return "the signature could not be read";
    case kStatusResourcesInvalid: return "a sealed resource is missing, added or invalid";
    case kStatusRequirementInvalid: return "invalid or corrupted code requirement";
    case kStatusRequirementFailed: return "the code failed to satisfy the requirement";
    case kStatusBadObjectFormat: return "the main executable is in an unsupported format";
    case kStatusGuestInvalid: return "the process is not valid for a code-signature check";
    case kStatusUntrusted: return "the signing chain does not end at a trusted anchor";
    case kStatusNoAnchors: return "the anchor store is missing or unsafe";
    default: return std::string();
    }
}

}  // namespace telvo::codesign
