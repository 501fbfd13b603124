#include "helper/CallerCheck.h"

#include "codesign/MOLCodesignChecker.h"
#include "platform/codesign/Requirement.h"

#ifndef TELVO_MAKER_COMPANY
#define TELVO_MAKER_COMPANY "Kestro Software"
#endif
#ifndef TELVO_MAKER_TEAM
#define TELVO_MAKER_TEAM "KESTRO1234"
#endif

namespace telvo::helper {

std::vector<std::string> authorizedClientRequirements(const std::string& team) {
    auto requirement = [&](const std::string& identifier) {
        return "anchor apple generic and identifier \"" + identifier +
               "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] exists or certificate "
               "1[field.1.2.840.113635.100.6.2.6] exists and certificate leaf[field.1.2.840.113635.100.6.1.13] "
               "exists and certificate leaf[subject.OU] = \"" +
               team + "\")";
    };
    return {requirement("com.kestro.TelvoServerAgent"), requirement("com.kestro.TelvoServer")};
}

CallerRules makerCallerRules() {
    return {std::string("Developer ID Application: ") + TELVO_MAKER_COMPANY,
            authorizedClientRequirements(TELVO_MAKER_TEAM)};
}

pid_t callerPid(const xpc::PeerCredentials& peer) { return peer.pidfd ? peer.pidfd->pid() : -1; }

bool checkCaller(const xpc::PeerCredentials& peer, const CallerRules& rules, std::string& why) {
    if (!peer.pidfd || !peer.pidfd->valid()) {
        why = "the caller (" + peer.description() + ") could not be pinned at the accept";
        return false;
    }
    const pid_t pid = callerPid(peer);
    ErrorPtr error;
    MOLCodesignCheckerPtr checker = MOLCodesignChecker::initWithPID(pid, &error);
    if (!checker || error) {
        why = "the code signature of pid " + std::to_string(pid) + " is not valid: " +
              (error ? error->description() : std::string("no code"));
        return false;
    }
    // Only the leaf speaks for the caller: a name higher up in the chain says nothing of who signed it.
    MOLCertificatePtr leaf = checker->leafCertificate();
    std::optional<std::string> name = leaf ? leaf->commonName() : std::nullopt;
    if (!name || name->compare(0, rules.commonNamePrefix.size(), rules.commonNamePrefix) != 0) {
        why = "pid " + std::to_string(pid) + " is signed by \"" + name.value_or("") + "\", not by \"" +
              rules.commonNamePrefix + "\"";
        return false;
    }
    bool met = false;
    for (const std::string& text : rules.requirements) {
        codesign::RequirementPtr requirement = codesign::Requirement::parse(text);
        if (requirement && checker->validateWithRequirement(requirement)) {
            met = true;
            break;
        }
    }
    if (!met) {
        why = "pid " + std::to_string(pid) + " meets none of the authorized-client requirements";
        return false;
    }
    if (!peer.alive()) {
        why = "pid " + std::to_string(pid) + " ended during its check";
        return false;
    }
    return true;
}

}  // namespace telvo::helper
