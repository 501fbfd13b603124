// The control operations over the preferences, the server manager and the port mapping.
#include "daemon/control/ServiceOperations.h"

#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "daemon/portmapping/PortMappingManager.h"
#include "platform/dispatch/Queue.h"

namespace telvo::control {

void resetAuthorizedDevices() { ServerManager::sharedServerManager().resetAuthorizedDevices(); }

Value objectForKey(const std::string& key) { return TVSPreferences::sharedPreferences().objectForKey(key); }

void setObjectForKey(const Value& value, const std::string& key) {
    if (key.empty()) return;
    TVSPreferences::sharedPreferences().setObject(value, key);
}

void setBonjourEnabled(const Value& flag) {
    TVSPreferences::sharedPreferences().setObject(flag, "bonjour enabled");
    // The advertisement belongs to the main queue, where the listener publishes it too.
    dispatch::Queue::main()->async([] { ServerManager::sharedServerManager().toggleBonjour(); });
}

void setUpnpPort(const Value& port) {
    TVSPreferences::sharedPreferences().setObject(port, "port external");
    PortMappingManager::sharedPortMappingManager().mappingPreferenceChange();
}

void setServerPort(const Value& port) {
    TVSPreferences::sharedPreferences().setObject(port, "port");
    dispatch::Queue::main()->async([] { ServerManager::sharedServerManager().changePort(); });
}

int64_t serverStatus() { return ServerManager::sharedServerManager().status(); }

int64_t upnpStatus() { return PortMappingManager::sharedPortMappingManager().status(); }

int64_t upnpPort() { return PortMappingManager::sharedPortMappingManager().mappedPort(); }

Value passcode() {
    auto code = TVSPreferences::sharedPreferences().passcode();
    return code ? Value(*code) : Value();
}

void generatePasscode() { TVSPreferences::sharedPreferences().createPasscode(); }

ErrorPtr setPasscode(const Value& passcode) {
    return TVSPreferences::sharedPreferences().setPasscode(passcode.isString() ? passcode.string() : std::string());
}

}  // namespace telvo::control
