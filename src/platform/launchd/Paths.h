#pragma once
// Where the instances keep their sockets and files (logical paths under the file-system root).
#include <sys/types.h>
#include <string>

namespace telvo::launchd {

// The system instance's folder and control socket. Any user may connect: a user's instance
// checks in there to have its folders made, a user's program asks there for rights and
// blessing; only root may load, unload or list.
constexpr const char* kRunFolder = "/var/run/telvo/launchd";
constexpr const char* kSystemControlSocket = "/var/run/telvo/launchd/system";
// Shared with programs of every user: distributed notifications (sticky, writable by all).
constexpr const char* kNotificationsFolder = "/var/run/telvo/notifications";
// The job folders.
constexpr const char* kDaemonsFolder = "/Library/LaunchDaemons";
constexpr const char* kAgentsFolder = "/Library/LaunchAgents";
// The Disabled overrides: the system instance's file is root's; each user's lives in a folder
// of that user, made by the system instance at check-in.
constexpr const char* kDatabaseFolder = "/var/db/telvo/launchd";
std::string systemOverridesPath();
std::string userDatabaseFolder(uid_t uid);
std::string userOverridesPath(uid_t uid);
// A user instance's control socket, in that user's own service folder.
std::string userControlSocket(uid_t uid);

}  // namespace telvo::launchd
