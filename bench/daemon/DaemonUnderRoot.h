#pragma once
// Starting the daemon program for a benchmark: its preferences (the port, no Bonjour) written
// under a private root, and the program run on that root in a child process.
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "daemon/TVSPreferences.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::bench {

// Points this process's root at `root`, writes the preferences there and starts `program`
// with TELVO_ROOT set to it and the `environment` pairs added; the child's pid.
inline pid_t startDaemonUnderRoot(const std::string& program, const std::string& root, uint16_t port,
                                  const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    fs::setRootForTesting(root);
    fs::createDirectories("/Library/Preferences");
    plist::writeFile(Value(ValueDictionary{{"port", Value(int(port))}, {"bonjour enabled", Value(0)}}),
                     TVSPreferences::kPath);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("TELVO_ROOT", root.c_str(), 1);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

}  // namespace telvo::bench
