#pragma once
// How an instance runs: system (root, "/Library/LaunchDaemons/") or per user (that user,
// "/Library/LaunchAgents/" for its session type), and its two waits.
#include <sys/types.h>
#include <string>

namespace telvo::launchd {

struct Settings {
    bool system = true;
    uid_t uid = 0;                       // the instance's user (root for the system instance)
    std::string sessionType = "System";  // "Aqua" for a user's graphical session
    double throttleInterval = 10;        // a job starts at most once in this many seconds
    double exitTimeout = 20;             // SIGKILL this long after an unload's SIGTERM
};

}  // namespace telvo::launchd
