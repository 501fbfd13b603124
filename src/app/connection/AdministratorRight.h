#pragma once
// The administrator right that the passcode panel and the settings items ask for before every
// change: a reference without rights, the right "system.privilege.admin" asked for with
// interaction allowed, extend rights and pre-authorise, and the reference freed again. Nothing
// is kept here between calls (the platform may spare the user a second question for a while).
// It blocks the calling thread while the platform's dialog is up.
#include "platform/authorization/Authorization.h"

namespace telvo::app {

// The platform's answer to the request (errAuthorizationSuccess when granted).
authorization::OSStatus requestAdministratorRight();
// True exactly when the right was granted.
bool authorized();

}  // namespace telvo::app
