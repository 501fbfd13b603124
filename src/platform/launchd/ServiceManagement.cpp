// The job-blessing service's requests to the system instance.
#include "platform/launchd/ServiceManagement.h"

#include "platform/launchd/ControlClient.h"
#include "platform/launchd/Paths.h"

namespace telvo::launchd {

namespace {

// Blessing checks signatures and may wait for a job to end; a question may wait for the user.
constexpr double kBlessTimeout = 120;
constexpr double kQuestionTimeout = 600;
constexpr double kShortTimeout = 30;

bool succeeded(const Value& answer, const ErrorPtr& sendError, ErrorPtr* error) {
    if (sendError) {
        if (error) *error = sendError;
        return false;
    }
    long long status = answer["status"].isNumber() ? answer["status"].intValue() : -1;
    if (status == 0) {
        if (error) error->reset();
        return true;
    }
    if (error) *error = makeError("launchd", long(status), answer["message"].string());
    return false;
}

}  // namespace

bool SMJobBless(const std::string& domain, const std::string& label, authorization::AuthorizationRef, ErrorPtr* error) {
    if (domain != kSMDomainSystemLaunchd) {
        if (error) *error = makeError("launchd", 22, "no such domain: " + domain);
        return false;
    }
    ErrorPtr sendError;
    Value answer = sendControlRequest(
        kSystemControlSocket, Value(ValueDictionary{{"command", Value("bless")}, {"label", Value(label)}}),
        kBlessTimeout, &sendError);
    return succeeded(answer, sendError, error);
}

Value SMJobCopyDictionary(const std::string& domain, const std::string& label) {
    if (domain != kSMDomainSystemLaunchd) return Value();
    ErrorPtr sendError;
    Value answer = sendControlRequest(
        kSystemControlSocket, Value(ValueDictionary{{"command", Value("copyjob")}, {"label", Value(label)}}),
        kShortTimeout, &sendError);
    if (sendError || answer["status"].intValue() != 0 || !answer["job"].isDictionary()) return Value();
    return answer["job"];
}

bool SMJobRemove(const std::string& domain, const std::string& label, authorization::AuthorizationRef, bool,
                 ErrorPtr* error) {
    if (domain != kSMDomainSystemLaunchd) {
        if (error) *error = makeError("launchd", 22, "no such domain: " + domain);
        return false;
    }
    ErrorPtr sendError;
    Value answer = sendControlRequest(
        kSystemControlSocket, Value(ValueDictionary{{"command", Value("remove")}, {"label", Value(label)}}),
        kBlessTimeout, &sendError);
    return succeeded(answer, sendError, error);
}

authorization::OSStatus askSystemInstanceForRight(const std::string& right, bool interactionAllowed) {
    ErrorPtr sendError;
    Value answer = sendControlRequest(kSystemControlSocket,
                                      Value(ValueDictionary{{"command", Value("authorize")},
                                                            {"right", Value(right)},
                                                            {"interaction", Value(interactionAllowed)}}),
                                      kQuestionTimeout, &sendError);
    if (sendError || !answer["authorization"].isNumber()) return authorization::errAuthorizationInternal;
    return authorization::OSStatus(answer["authorization"].intValue());
}

}  // namespace telvo::launchd
