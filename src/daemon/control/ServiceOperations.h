#pragma once
// What the control operations do, shared by ServiceProtocol and the older route's commands.
// Each runs on the caller's queue; work that belongs to the main queue (the listener, the
// advertisement) or to the port mapper's queue is handed there.
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::control {

void resetAuthorizedDevices();
Value objectForKey(const std::string& key);
void setObjectForKey(const Value& value, const std::string& key);
void setBonjourEnabled(const Value& flag);
void setUpnpPort(const Value& port);
void setServerPort(const Value& port);
int64_t serverStatus();
int64_t upnpStatus();
int64_t upnpPort();
Value passcode();
void generatePasscode();
// Null when the passcode was stored; an empty or missing one is refused with an error.
ErrorPtr setPasscode(const Value& passcode);

}  // namespace telvo::control
