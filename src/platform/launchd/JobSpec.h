#pragma once
// A launchd job as its property list describes it: Label, Program or ProgramArguments,
// MachServices, RunAtLoad, KeepAlive, LimitLoadToSessionType and Disabled.
#include <string>
#include <vector>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::launchd {

struct JobSpec {
    std::string label;
    std::string program;                 // the logical path run
    std::vector<std::string> arguments;  // argv, argv[0] included
    std::vector<std::string> machServices;
    bool runAtLoad = false;
    bool keepAlive = false;
    std::vector<std::string> sessionTypes;  // empty: the instance's default
    bool disabled = false;

    // Answers the error (domain "launchd") when a key is missing or of the wrong kind.
    static JobSpec fromPropertyList(const Value& plist, ErrorPtr* error);
    // Whether the job may load in a session of that type. A job without
    // LimitLoadToSessionType loads in "Aqua" sessions and in the system instance ("System").
    bool allowsSession(const std::string& sessionType) const;
};

}  // namespace telvo::launchd
