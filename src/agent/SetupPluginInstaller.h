#pragma once
// The agent's installer: the setup plug-in of a downloaded application, loaded through the
// setup loader (which refuses any plug-in that is not the maker's signed one).
#include <memory>
#include <string>

#include "agent/AppDelegate.h"

namespace telvo::agent {

// Null, logged, when the application's plug-in does not load.
std::unique_ptr<PluginInstaller> loadSetupPluginInstaller(const std::string& application);

}  // namespace telvo::agent
