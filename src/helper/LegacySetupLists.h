#pragma once
// The legacy setup tool's step lists: the setup plug-in's install list (17 entries, and the
// copy of the application into "/Applications" with its touch when the tool runs from
// elsewhere) and the first nine entries of its uninstall list.
#include <string>
#include <vector>
#include "helper/HelperCommand.h"

namespace telvo::helper {

constexpr const char* kApplicationsFolder = "/Applications";
constexpr const char* kInstalledApplication = "/Applications/Telvo Server.app";

// `bundle`: the logical path of "SetupBundle.bundle", whose resources the install copies.
std::vector<HelperCommand> legacyInstallList(const std::string& bundle);
// The application copy appended when the tool's folder does not begin with "/Applications":
// `application` is the application that holds the tool, `owner` the "%d:%d" of "/Applications".
void appendApplicationCopy(std::vector<HelperCommand>& list, const std::string& application, const std::string& owner);
std::vector<HelperCommand> legacyUninstallList();

// Whether the arguments (the program's own name included) ask for the uninstall.
bool wantsUninstall(const std::vector<std::string>& arguments);

}  // namespace telvo::helper
