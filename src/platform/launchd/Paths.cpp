// Paths of the instances.
#include "platform/launchd/Paths.h"

#include "platform/xpc/RunFolder.h"

namespace telvo::launchd {

std::string systemOverridesPath() { return std::string(kDatabaseFolder) + "/overrides.plist"; }
std::string userDatabaseFolder(uid_t uid) { return std::string(kDatabaseFolder) + "/user-" + std::to_string(uid); }
std::string userOverridesPath(uid_t uid) { return userDatabaseFolder(uid) + "/overrides.plist"; }
std::string userControlSocket(uid_t uid) { return xpc::userServiceFolder(uid) + "/.launchd"; }

}  // namespace telvo::launchd
