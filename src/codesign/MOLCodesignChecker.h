#pragma once
// MOLCodesignChecker: validates the code signature of a running process, of a program or
// bundle on disk, or of this process, and exposes what the signature carries: the signing
// chain (leaf first), the designated requirement, the signature flags and the binary's path.
// The privileged helper admits a caller only after a checker for its process id succeeds.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codesign/MOLCertificate.h"
#include "platform/Error.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Requirement.h"
#include "platform/values/Value.h"

namespace telvo {

// The domain of errorWithCode:.
constexpr const char* kCodesignCheckerErrorDomain = "CodesignCheckerErrorDomain";
// The domain of the errors the platform layer reports from a failed check.
constexpr const char* kCodesignStatusErrorDomain = "NSOSStatusErrorDomain";

class MOLCodesignChecker;
using MOLCodesignCheckerPtr = std::shared_ptr<MOLCodesignChecker>;

class MOLCodesignChecker {
public:
    MOLCodesignChecker() = delete;  // "init" is not available

    // Each initialiser comes in two forms. The plain one answers nullptr unless the signature
    // is valid. The error form fills *error when the check fails and still answers a checker
    // with what the signature gave, or nullptr (and the error) when there is no code at all.
    static MOLCodesignCheckerPtr initWithSecStaticCodeRef(codesign::CodePtr code);
    static MOLCodesignCheckerPtr initWithSecStaticCodeRef(codesign::CodePtr code, ErrorPtr* error);
    static MOLCodesignCheckerPtr initWithBinaryPath(const std::string& path);
    static MOLCodesignCheckerPtr initWithBinaryPath(const std::string& path, ErrorPtr* error);
    static MOLCodesignCheckerPtr initWithPID(int32_t pid);
    static MOLCodesignCheckerPtr initWithPID(int32_t pid, ErrorPtr* error);
    static MOLCodesignCheckerPtr initWithSelf();
    static MOLCodesignCheckerPtr initWithSelfError(ErrorPtr* error);

    // An error in kCodesignCheckerErrorDomain whose code is the status and whose message is
    // the status's text (empty when there is none).
    static ErrorPtr errorWithCode(int32_t status);

    const codesign::CodePtr& codeRef() const { return codeRef_; }
    Value signingInformation() const;
    std::vector<MOLCertificatePtr> certificates() const;
    void setCertificates(std::vector<MOLCertificatePtr> certificates);
    MOLCertificatePtr leafCertificate() const;
    // The code's path; empty when it cannot be found.
    std::string binaryPath() const;
    uint32_t signatureFlags() const;

    // The designated requirement, made on first read; nullptr on failure (asked again next time).
    codesign::RequirementPtr requirement();
    void setRequirement(codesign::RequirementPtr requirement);

    // Same certificates, in the same order (two unsigned codes match).
    bool signingInformationMatches(const MOLCodesignChecker& other) const;
    // false for no requirement; otherwise the code is checked again, with the requirement.
    bool validateWithRequirement(const codesign::RequirementPtr& requirement) const;

    // "On-disk binary, signed by <org>, located at: <path>" ("In-memory" for a process).
    std::string description() const;

private:
    explicit MOLCodesignChecker(codesign::CodePtr code) : codeRef_(std::move(code)) {}

    codesign::CodePtr codeRef_;
    mutable std::mutex mutex_;
    Value signingInformation_;
    std::vector<MOLCertificatePtr> certificates_;
    codesign::RequirementPtr requirement_;
};

}  // namespace telvo
