#pragma once
// Folders that hold service sockets: made when missing, and trusted only when they belong to
// this process's user (root for the daemon) and nobody else may write into them, so that no
// other user can put a socket of their own in the service's place.
#include <sys/types.h>
#include <string>
#include "platform/Error.h"

namespace telvo::xpc {

// The folder the stand-in's system service sockets live in ("/var/run/telvo/xpc").
constexpr const char* kServiceFolder = "/var/run/telvo/xpc";

// A user's own service folder ("/var/run/telvo/xpc/user-<uid>"): owned by that user, mode 0700,
// so that no other user reaches or replaces the services in it.
std::string userServiceFolder(uid_t uid);
// Where this process's services live: the system folder for root, else the user's own.
std::string serviceFolderForThisProcess();

// Makes the folder (and missing parents, mode 0755) with `mode`; when `group` is not
// gid_t(-1) and this process runs as root, the folder's group becomes `group`. Answers an
// error in domain "NSPOSIXErrorDomain" when it cannot be made, or when it exists but is owned
// by another user, is no directory, or is writable by group or others.
ErrorPtr prepareRunFolder(const std::string& path, mode_t mode, gid_t group = gid_t(-1));

// A folder of root's that everyone may write into but only the owner of a file may remove it
// from (mode 1777), as the notification listeners of every user need. Root only.
ErrorPtr prepareSharedRunFolder(const std::string& path);

// The gid of a group name, gid_t(-1) when there is none.
gid_t groupID(const std::string& name);

}  // namespace telvo::xpc
