// The code-signature checker.
#include "codesign/MOLCodesignChecker.h"

#include <unistd.h>

#include "platform/codesign/Status.h"

namespace telvo {

MOLCodesignCheckerPtr MOLCodesignChecker::initWithSecStaticCodeRef(codesign::CodePtr code, ErrorPtr* error) {
    if (!code) {
        if (error) *error = errorWithCode(codesign::kStatusNoSuchCode);
        return nullptr;
    }
    MOLCodesignCheckerPtr checker(new MOLCodesignChecker(code));
    Value info;
    std::string detail;
    int32_t status = code->checkValidity(info, detail);
    if (status != codesign::kStatusOK && error) {
        std::string text = codesign::statusText(status);
        *error = makeError(kCodesignStatusErrorDomain, status, detail.empty() ? text : text + ": " + detail);
    }
    checker->signingInformation_ = info;
    checker->certificates_ = MOLCertificate::certificatesFromArray(info["certificates"].array());
    return checker;
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithSecStaticCodeRef(codesign::CodePtr code) {
    ErrorPtr error;
    auto checker = initWithSecStaticCodeRef(std::move(code), &error);
    return error ? nullptr : checker;
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithBinaryPath(const std::string& path, ErrorPtr* error) {
    int32_t status = 0;
    auto code = codesign::Code::createWithPath(path, status);
    if (!code) {
        if (error) *error = errorWithCode(status);
        return nullptr;
    }
    return initWithSecStaticCodeRef(code, error);
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithBinaryPath(const std::string& path) {
    ErrorPtr error;
    auto checker = initWithBinaryPath(path, &error);
    return error ? nullptr : checker;
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithPID(int32_t pid, ErrorPtr* error) {
    int32_t status = 0;
    auto code = codesign::Code::copyGuestWithPid(pid_t(pid), status);
    if (!code) {
        if (error) *error = errorWithCode(status);
        return nullptr;
    }
    return initWithSecStaticCodeRef(code, error);
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithPID(int32_t pid) {
    ErrorPtr error;
    auto checker = initWithPID(pid, &error);
    return error ? nullptr : checker;
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithSelfError(ErrorPtr* error) {
    int32_t status = 0;
    auto code = codesign::Code::copySelf(status);
    if (!code) {
        if (error) *error = errorWithCode(status);
        return nullptr;
    }
    return initWithSecStaticCodeRef(code, error);
}

MOLCodesignCheckerPtr MOLCodesignChecker::initWithSelf() {
    ErrorPtr error;
    auto checker = initWithSelfError(&error);
    return error ? nullptr : checker;
}

ErrorPtr MOLCodesignChecker::errorWithCode(int32_t status) {
    return makeError(kCodesignCheckerErrorDomain, long(status), codesign::statusText(status));
}

Value MOLCodesignChecker::signingInformation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signingInformation_;
}

std::vector<MOLCertificatePtr> MOLCodesignChecker::certificates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return certificates_;
}

void MOLCodesignChecker::setCertificates(std::vector<MOLCertificatePtr> certificates) {
    std::lock_guard<std::mutex> lock(mutex_);
    certificates_ = std::move(certificates);
}

MOLCertificatePtr MOLCodesignChecker::leafCertificate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return certificates_.empty() ? nullptr : certificates_.front();
}

std::string MOLCodesignChecker::binaryPath() const { return codeRef_ ? codeRef_->path() : std::string(); }

uint32_t MOLCodesignChecker::signatureFlags() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uint32_t(signingInformation_["flags"].intValue());
}

codesign::RequirementPtr MOLCodesignChecker::requirement() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (requirement_) return requirement_;
    // Only valid signed code has a designated requirement; a failure is retried next time.
    const std::string identifier = signingInformation_["identifier"].string();
    if (identifier.empty() || certificates_.empty()) return nullptr;
    Bytes leaf = certificates_.front()->certData();
    requirement_ = codesign::Requirement::designated(identifier, std::string(leaf.begin(), leaf.end()));
    return requirement_;
}

void MOLCodesignChecker::setRequirement(codesign::RequirementPtr requirement) {
    std::lock_guard<std::mutex> lock(mutex_);
    requirement_ = std::move(requirement);
}

bool MOLCodesignChecker::signingInformationMatches(const MOLCodesignChecker& other) const {
    auto mine = certificates(), theirs = other.certificates();
    if (mine.size() != theirs.size()) return false;
    for (size_t i = 0; i < mine.size(); ++i) {
        if (!mine[i]->isEqual(*theirs[i])) return false;
    }
    return true;
}

bool MOLCodesignChecker::validateWithRequirement(const codesign::RequirementPtr& requirement) const {
    if (!requirement || !codeRef_) return false;
    Value info;
    std::string detail;
    return codeRef_->checkValidity(*requirement, info, detail) == codesign::kStatusOK;
}

std::string MOLCodesignChecker::description() const {
    auto leaf = leafCertificate();
    std::optional<std::string> org = leaf ? leaf->orgName() : std::nullopt;
    std::string path = binaryPath();
    bool onDisk = codeRef_ && codeRef_->kind() == codesign::Code::Kind::Static;
    return std::string(onDisk ? "On-disk" : "In-memory") + " binary, signed by " + (org ? *org : "(null)") +
           ", located at: " + (path.empty() ? "(null)" : path);
}

}  // namespace telvo
