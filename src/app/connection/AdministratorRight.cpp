#include "app/connection/AdministratorRight.h"

namespace telvo::app {

authorization::OSStatus requestAdministratorRight() {
    using namespace authorization;
    AuthorizationRef ref = nullptr;
    OSStatus status = AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref);
    if (status != errAuthorizationSuccess || !ref) return status != errAuthorizationSuccess ? status : errAuthorizationInvalidRef;
    status = AuthorizationCopyRights(ref, {kAuthorizationRightExecute}, kAuthorizationFlagsAskUser);
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
    return status;
}

bool authorized() { return requestAdministratorRight() == authorization::errAuthorizationSuccess; }

}  // namespace telvo::app
