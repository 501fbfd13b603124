// LegacySetupTool [uninstall]: runs the install list (no argument) or the uninstall list
// ("uninstall" among the arguments) as root, with the setup plug-in "SetupBundle.bundle" found
// in the folder of this program, and copies the application that holds it (the outermost
// "<name>.app" folder above it) into "/Applications". Every step's result goes to standard
// error; the exit status is 0 when every step reached its end state, 1 when one failed, 2 when
// nothing could be run, 3 when this program lies in no application reached without a link.
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>
#include "helper/FileTree.h"
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

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Where this program lies: its logical folder and the application holding it, the outermost
// "<name>.app" folder on its path. The path is the one the kernel resolved when it started
// (no link on it), and it must still lead, without a link, to this very program. 0 when
// found, otherwise the exit status with *why.
int ownPlace(std::string& folder, std::string& application, std::string& why) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        why = "cannot find this program's own path";
        return 2;
    }
    std::string logical;
    if (!fs::logicalPath(std::string(buf.data(), size_t(n)), logical)) {
        why = "this program lies outside the file-system root " + fs::root();
        return 2;
    }
    folder = parentOf(logical);
    application.clear();
    for (size_t at = 1; at <= logical.size() && application.empty();) {
        size_t end = logical.find('/', at);
        if (end == std::string::npos) break;  // the program itself is no folder
        if (endsWith(logical.substr(at, end - at), ".app")) application = logical.substr(0, end);
        at = end + 1;
    }
    if (application.empty()) {
        why = "this program lies in no application folder (\"<name>.app\"): " + logical;
        return 3;
    }
    struct stat self {}, named {};
    std::string lookUpWhy;
    if (::stat("/proc/self/exe", &self) != 0 || !isRealFolder(application) || !lookUp(logical, named, lookUpWhy) ||
        named.st_dev != self.st_dev || named.st_ino != self.st_ino) {
        why = "the application " + application + " is not a real folder holding this program (" +
              (lookUpWhy.empty() ? std::string("it was moved or replaced") : lookUpWhy) + ")";
        return 3;
    }
    return 0;
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
        std::string folder, application, why;
        if (int status = ownPlace(folder, application, why); status != 0) {
            std::fprintf(stderr, "LegacySetupTool: %s; nothing was installed\n", why.c_str());
            return status;
        }
        list = legacyInstallList(folder + "/SetupBundle.bundle");
        if ((application + "/").rfind(std::string(kApplicationsFolder) + "/", 0) != 0) {
            // This system has no "/Applications" of its own: made root's, 0755, when absent.
            struct stat st {};
            if (!makeFolders(kApplicationsFolder, why) || !lookUp(kApplicationsFolder, st, why)) {
                std::fprintf(stderr, "LegacySetupTool: %s: %s\n", kApplicationsFolder, why.c_str());
                return 2;
            }
            std::string owner = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
            appendApplicationCopy(list, application, owner);
        }
    }
    for (const auto& command : list) helper.processCommand(command);
    int failures = helper.failureCount();
    if (failures > 0) std::fprintf(stderr, "LegacySetupTool: %d step(s) failed\n", failures);
    return failures > 0 ? 1 : 0;
}
