#include "helper/ProcessMatch.h"

#include <dirent.h>
#include <unistd.h>
#include <cstdlib>
#include "platform/fs/Root.h"

namespace telvo::helper {

std::vector<pid_t> processesNamed(const std::string& name) {
    std::vector<pid_t> found;
    if (name.empty()) return found;
    const std::string root = fs::root();
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid()) continue;
        char buf[4096];
        std::string link = "/proc/" + std::string(e->d_name) + "/exe";
        ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
        if (n <= 0) continue;  // kernel threads, zombies, processes gone meanwhile
        std::string exe(buf, size_t(n));
        const std::string deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
            exe.resize(exe.size() - deleted.size());
        if (root != "/" && exe.compare(0, root.size() + 1, root + "/") != 0) continue;
        size_t slash = exe.rfind('/');
        if (exe.substr(slash == std::string::npos ? 0 : slash + 1) == name) found.push_back(pid_t(pid));
    }
    ::closedir(proc);
    return found;
}

}  // namespace telvo::helper
