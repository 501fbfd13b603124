#pragma once
// What the privileged helper lets a caller's command do. Root runs only the steps of the
// setup plug-in's install and uninstall lists, on their fixed paths; a "copy" also into an
// application in "/Applications" and a "trash" of one into the caller's own Trash. Owners are
// root or the caller with one of its groups, modes 755 or 644, paths whole (no "." or "..").
// "system", "move" and "quarantine" are refused.
#include <sys/types.h>
#include <string>
#include <vector>
#include "helper/HelperCommand.h"

namespace telvo::helper {

// The caller as its user account tells: id, groups and home folder (getpwuid).
struct PeerUser {
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    std::string name;
    std::string home;
    std::vector<gid_t> groups;  // the primary group included
};
bool lookUpPeerUser(uid_t uid, PeerUser& out, std::string& why);

// "<home>/Library/Logs/Telvo Server/InstallerHelper"
std::string helperLogFolder(const PeerUser& user);
// "<home>/.Trash"
std::string trashFolder(const PeerUser& user);

// An application in "/Applications" of the name "Telvo Server*.app", any depth below.
bool isApplicationsCopyTarget(const std::string& path);
// The outermost ".app" folder a path lies in (the path itself when it is one); empty when none.
std::string outermostApplication(const std::string& path);
// No empty, "." or ".." component; absolute.
bool isWholePath(const std::string& path);

// True when the command may run for the caller; else `why`.
bool permits(const HelperCommand& command, const PeerUser& user, std::string& why);

}  // namespace telvo::helper
