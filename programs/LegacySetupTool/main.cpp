// LegacySetupTool [uninstall]: runs the install list (no argument) or the uninstall list
// ("uninstall" among the arguments) as root, with the setup plug-in "SetupBundle.bundle" found
// in the folder of this program. Every step's result goes to standard error; the exit status
// is 0 when every step reached its end state, 1 when one failed, 2 when nothing could be run.
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>
#include "helper/HelperController.h"
#include "helper/LegacySetupLists.h"
#include "platform/fs/Root.h"

using namespace telvo;
using namespace telvo::helper;

namespace {

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The logical folder of this program; false when it lies outside the file-system root.
bool ownFolder(std::string& folder) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return false;
    std::string logical;
    if (!fs::logicalPath(std::string(buf.data(), size_t(n)), logical)) return false;
    folder = parentOf(logical);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Started with an effective user id of root: the tools run as root through and through.
    if (geteuid() == 0 && ::setuid(0) != 0) {
        std::perror("LegacySetupTool: setuid");
        return 2;
    }
    std::vector<std::string> arguments(argv, argv + argc);
    HelperController& helper = HelperController::sharedHelper();
    helper.setLogger([](const std::string& line) { std::fprintf(stderr, "LegacySetupTool: %s\n", line.c_str()); });

    std::vector<HelperCommand> list;
    if (wantsUninstall(arguments)) {
        list = legacyUninstallList();
    } else {
        std::string folder;
        if (!ownFolder(folder)) {
            std::fprintf(stderr, "LegacySetupTool: this program lies outside the file-system root %s\n", fs::root().c_str());
            return 2;
        }
        list = legacyInstallList(folder + "/SetupBundle.bundle");
        if (folder.rfind(kApplicationsFolder, 0) != 0) {
            // This system has no "/Applications" of its own: made root's, 0755, when absent.
            if (!fs::isDirectory(kApplicationsFolder) && !fs::createDirectories(kApplicationsFolder, 0755)) {
                std::perror("LegacySetupTool: /Applications");
                return 2;
            }
            struct stat st {};
            if (::stat(fs::resolve(kApplicationsFolder).c_str(), &st) != 0) {
                std::perror("LegacySetupTool: /Applications");
                return 2;
            }
            std::string owner = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
            appendApplicationCopy(list, parentOf(parentOf(folder)), owner);
        }
    }
    for (const auto& command : list) helper.processCommand(command);
    int failures = helper.failureCount();
    if (failures > 0) std::fprintf(stderr, "LegacySetupTool: %d step(s) failed\n", failures);
    return failures > 0 ? 1 : 0;
}
