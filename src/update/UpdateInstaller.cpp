#include "update/UpdateInstaller.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/authorization/Authorization.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"
#include "platform/workspace/Workspace.h"
#include "update/ToolRun.h"

namespace telvo::update {
namespace {

namespace auth = telvo::authorization;

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string folderOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

void splitName(const std::string& name, std::string& stem, std::string& ext) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        stem = name;
        ext.clear();
    } else {
        stem = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
}

std::string joined(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool runAsRoot(auth::AuthorizationRef ref, const std::string& tool, const std::vector<std::string>& args) {
    int status = -1;
    auth::OSStatus rc = auth::AuthorizationExecuteWithPrivilegesAndWait(ref, tool, args, &status);
    if (rc != auth::errAuthorizationSuccess || status != 0) {
        std::string line = tool;
        for (const auto& a : args) line += " " + a;
        SystemLog("Installation error - %@ failed (%@, status %d)", line, auth::statusMessage(rc), status);
        return false;
    }
    return true;
}

// "~/.Trash" made by the user, mode 0700, a real folder of this user.
bool userTrash(std::string& trash) {
    trash = fs::expandTilde("~/.Trash");
    if (mkdir(trash.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    return lstat(trash.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

std::string UpdateInstaller::escapeString(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '&') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string UpdateInstaller::uniquePathForFile(const std::string& file, const std::string& directory) {
    const std::string name = lastComponent(file);
    std::string path = joined(directory, name);
    std::string stem, ext;
    splitName(name, stem, ext);
    for (int n = 2; exists(path) && n <= 999999; ++n) path = joined(directory, format("%@ (%d).%@", stem, n, ext));
    return path;
}

std::string UpdateInstaller::newLocationForFile(const std::string& file, const std::string& directory) {
    std::string tag = "old";
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string version = plist::readFile(file + "/Contents/Info.plist")["CFBundleVersion"].stringValue();
        auto keep = [](char c) {
            return std::isalnum((unsigned char)c) || c == '.' || c == '-' || c == '(' || c == ')';
        };
        size_t start = 0, end = version.size();
        while (start < end && !keep(version[start])) ++start;
        while (end > start && !keep(version[end - 1])) --end;
        if (end > start) tag = version.substr(start, end - start);
    }
    std::string stem, ext;
    splitName(lastComponent(file), stem, ext);
    const std::string name = format("%@ (%@).%@", stem, tag, ext);
    std::string path = joined(directory, name);
    std::string nameStem, nameExt;
    splitName(name, nameStem, nameExt);
    for (int n = 1; exists(path) && n < 2147483646; ++n) path = joined(directory, format("%@-%d.%@", nameStem, n, nameExt));
    return path;
}

int UpdateInstaller::removeXAttr(const char* name, const std::string& path, int options) {
    if (path.empty() || !name) return -1;
    const std::string attribute = fs::systemAttributeName(name);
    return (options & 1) ? lremovexattr(path.c_str(), attribute.c_str()) : removexattr(path.c_str(), attribute.c_str());
}

void UpdateInstaller::releaseFromQuarantine(const std::string& path) { removeXAttr("com.apple.quarantine", path, 1); }

bool UpdateInstaller::copyPath(const std::string& source, const std::string& destination) {
    const std::string folder = folderOf(destination);
    const bool present = exists(destination);
    if (!present || access(destination.c_str(), W_OK) != 0 || access(folder.c_str(), W_OK) != 0)
        return authenticatedCopy(source, destination);

    std::string problem;
    const std::string aside = newLocationForFile(destination, folder);
    if (rename(destination.c_str(), aside.c_str()) != 0) {
        problem = format("could not move %@ aside: %@", destination, std::strerror(errno));
    } else if (runTool({"/bin/cp", "-R", "-P", "-p", "--", source, destination}) != 0) {
        problem = format("could not copy %@ to %@", source, destination);
        // Put the old copy back; the half-made new one goes first.
        runTool({"/bin/rm", "-rf", "--", destination});
        if (rename(aside.c_str(), destination.c_str()) != 0)
            SystemLog("Installation error - the old copy stays at %@", aside);
    } else {
        ErrorPtr error;
        if (!workspace::recycle(aside, nullptr, &error))
            SystemLog("Installation error - %@ (the old copy stays at %@)", error ? error->message : "", aside);
    }
    if (!problem.empty()) {
        SystemLog("Installation error - %@", problem);
        return authenticatedCopy(source, destination);
    }
    releaseFromQuarantine(destination);
    runTool({"/usr/bin/touch", "-h", "--", destination});
    return true;
}

bool UpdateInstaller::authenticatedCopy(const std::string& source, const std::string& destination) {
    std::string trash;
    if (!userTrash(trash)) {
        SystemLog("Installation error - no Trash folder of this user at %@", trash);
        return false;
    }
    const std::string trashPlace = uniquePathForFile(destination, trash + "/");
    struct stat st;
    const bool present = lstat(destination.c_str(), &st) == 0;
    const uid_t owner = present ? st.st_uid : getuid();
    const gid_t group = present ? st.st_gid : getgid();

    auth::AuthorizationRef ref = nullptr;
    auth::OSStatus rc = auth::errAuthorizationDenied;
    for (int i = 0; i < kAuthorizationAttempts && rc == auth::errAuthorizationDenied; ++i)
        rc = auth::AuthorizationCreate(nullptr, auth::kAuthorizationFlagDefaults, &ref);
    if (rc != auth::errAuthorizationSuccess || !ref) return false;
    rc = auth::AuthorizationCopyRights(ref, {auth::kAuthorizationRightExecute}, auth::kAuthorizationFlagsAskUser);
    if (rc != auth::errAuthorizationSuccess) {
        auth::AuthorizationFree(ref, auth::kAuthorizationFlagDefaults);
        return false;
    }
    bool ok = true;
    const std::string folder = folderOf(destination);
    if (!exists(folder)) ok = runAsRoot(ref, "/bin/mkdir", {"-p", "-m", "0755", "--", folder});
    bool movedAside = false;
    if (ok && present) ok = movedAside = runAsRoot(ref, "/bin/mv", {"-f", "-T", "--", destination, trashPlace});
    if (ok) {
        ok = runAsRoot(ref, "/bin/mv", {"-f", "-T", "--", source, destination});
        // Never leave no application at all: the old copy comes back.
        if (!ok && movedAside) runAsRoot(ref, "/bin/mv", {"-f", "-T", "--", trashPlace, destination});
    }
    if (ok) {
        releaseFromQuarantine(destination);
        ok = runAsRoot(ref, "/bin/chown", {"-R", "-h", format("%d:%d", int(owner), int(group)), "--", destination});
    }
    auth::AuthorizationFree(ref, auth::kAuthorizationFlagDefaults);
    return ok;
}

}  // namespace telvo::update
