#include "helper/HelperController.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include "helper/FileTree.h"
#include "helper/ProcessMatch.h"
#include "helper/ToolRun.h"
#include "helper/ToolTable.h"
#include "platform/fs/Root.h"
#include "platform/launchd/ControlClient.h"
#include "platform/launchd/Paths.h"
#include "platform/values/PropertyList.h"

namespace telvo::helper {

namespace {

std::string withoutTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string lastComponent(const std::string& path) {
    std::string p = withoutTrailingSlash(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string joined(const std::string& folder, const std::string& name) {
    std::string f = withoutTrailingSlash(folder);
    return f == "/" ? "/" + name : f + "/" + name;
}

bool isOctalMode(const std::string& mode) {
    if (mode.empty() || mode.size() > 4) return false;
    for (char c : mode)
        if (c < '0' || c > '7') return false;
    return true;
}

std::string jobLabel(const std::string& path) {
    Value job = plist::readFile(path);
    return job.isDictionary() && job["Label"].isString() ? job["Label"].string() : std::string();
}

}  // namespace

HelperController& HelperController::sharedHelper() {
    static HelperController* shared = new HelperController();
    return *shared;
}

void HelperController::resetForTesting() {
    std::lock_guard<std::mutex> lock(mutex_);
    logger_ = nullptr;
    failures_ = 0;
    lines_.clear();
}

void HelperController::setLogger(Logger logger) {
    std::lock_guard<std::mutex> lock(mutex_);
    logger_ = std::move(logger);
}

int HelperController::failureCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::vector<std::string> HelperController::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void HelperController::log(const std::string& line) {
    Logger logger;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logger = logger_;
    }
    if (logger) logger(line);
}

void HelperController::record(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }
    log(line);
}

bool HelperController::processCommand(const HelperCommand& c) {
    const std::string name = c.command();
    auto has = [&](const char* key) { return c.has(key); };
    bool ok = true;
    if (name == "quarantine" && has("file")) ok = releaseFromQuarantine(c.text("file"));
    if (name == "system" && has("system")) ok = runSystem(c.text("system"));
    if (name == "touch" && has("file")) ok = touch(c.text("file"));
    if (name == "remove" && has("file")) ok = removeFile(c.text("file"));
    if (name == "unload-d" && has("file")) ok = unloadDaemon(c.text("file"));
    if (name == "mkdir" && has("file")) {
        ok = createDirectory(c.text("file"));
        if (has("chown")) ok = ownerStep(c.text("file"), c.text("chown")) && ok;
        if (has("chmod")) ok = chmod(c.text("file"), c.text("chmod")) && ok;
    }
    if (name == "copy" && has("file") && has("dest")) {
        ok = copyFile(c.text("file"), c.text("dest"));
        // A copy that did not take place leaves the old destination as it was.
        if (ok && has("chown")) ok = ownerStep(c.text("dest"), c.text("chown"));
        if (ok && has("chmod")) ok = chmod(c.text("dest"), c.text("chmod"));
    }
    if (name == "kill" && has("file")) ok = killProcess(c.text("file"));
    if (name == "sleep" && has("time")) ok = sleep(c.dictionary()["time"].doubleValue());
    if (name == "load-d" && has("file")) ok = loadDaemon(c.text("file"));
    if (name == "move" && has("file") && has("dest")) {
        ok = moveFileAtPath(c.text("file"), c.text("dest"));
        if (ok && has("chown")) ok = ownerStep(c.text("dest"), c.text("chown"));
        if (ok && has("chmod")) ok = chmod(c.text("dest"), c.text("chmod"));
    }
    if (name == "trash") ok = trash(c.text("file"), c.text("dest"));
    if (!ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++failures_;
    }
    log("Step " + name + (ok ? " done" : " failed"));
    return ok;
}

void HelperController::processMessage(const HelperCommand& c, const std::function<void(const std::string&)>& reply) {
    log(c.dictionary().description());
    processCommand(c);
    if (c.has("reply") && reply) reply("");
    if (c.command() == "finish" && c.has("cleanup") && c.has("launchd")) finishCleanup();
}

bool HelperController::touch(const std::string& path) {
    ToolRun run("/usr/bin/touch", {ToolArgument::escapedPath(path)});
    record(run.lineText());
    std::string why;
    if (touchPath(path, why)) return true;
    log("Touch of " + path + " failed: " + why);
    return false;
}

bool HelperController::removeFile(const std::string& path) {
    if (!occupied(path)) return true;
    ToolRun run("/bin/rm", {ToolArgument::plain("-rf"), ToolArgument::escapedPath(path)});
    record(run.lineText());
    std::string why;
    if (removeTree(path, why) && !occupied(path)) return true;
    log("Removal of " + path + " failed: " + why);
    return false;
}

bool HelperController::jobLoaded(const std::string& label) {
    ErrorPtr error;
    Value answer = launchd::sendControlRequest(launchd::kSystemControlSocket,
                                               Value(ValueDictionary{{"command", Value("list")}}), 30, &error);
    if (error || !answer["jobs"].isArray()) return false;
    for (const Value& job : answer["jobs"].array())
        if (job["Label"].isString() && job["Label"].string() == label) return true;
    return false;
}

bool HelperController::unloadDaemon(const std::string& path) {
    if (!fs::exists(path)) return true;
    const std::string label = jobLabel(path);
    ToolRun run("/bin/launchctl", {ToolArgument::plain("unload"), ToolArgument::escapedPath(path)});
    record(run.lineText());
    int status = run.run();
    return label.empty() ? status == 0 : !jobLoaded(label);
}

bool HelperController::loadDaemon(const std::string& path) {
    if (!fs::exists(path)) return true;
    const std::string label = jobLabel(path);
    ToolRun run("/bin/launchctl", {ToolArgument::plain("load"), ToolArgument::plain("-w"), ToolArgument::escapedPath(path)});
    record(run.lineText());
    int status = run.run();
    return label.empty() ? status == 0 : jobLoaded(label);
}

bool HelperController::createDirectory(const std::string& path) {
    std::string why;
    if (!occupied(path)) {
        ToolRun run("/bin/mkdir", {ToolArgument::escapedPath(path)});
        record(run.lineText());
        // The folders above are made too, each without following a link.
        if (!makeFolders(path, why)) log("mkdir of " + path + " failed: " + why);
    }
    if (isRealFolder(path)) return true;
    log(path + " is not a folder reached without a symbolic link");
    return false;
}

bool HelperController::ownerStep(const std::string& path, const std::string& owner) {
    return owner == "root" ? chownRoot(path) : chown(path, owner);
}

bool HelperController::changeOwner(const std::string& path, const std::string& owner) {
    Owner ids;
    if (!parseOwner(owner, ids)) {
        log("Refusing the owner text " + owner);
        return false;
    }
    std::string why;
    if (changeOwnerTree(path, ids, why)) return true;
    log("Owner step on " + path + " failed: " + why);
    return false;
}

bool HelperController::chownRoot(const std::string& path) {
    ToolRun run("/usr/sbin/chown", {ToolArgument::plain("-R"), ToolArgument::escaped(kRootOwnerLine, kRootOwnerHost),
                                    ToolArgument::escapedPath(path)});
    record(run.lineText());
    return changeOwner(path, "root");
}

bool HelperController::chown(const std::string& path, const std::string& owner) {
    ToolRun run("/usr/sbin/chown", {ToolArgument::plain("-R"), ToolArgument::escaped(owner), ToolArgument::escapedPath(path)});
    record(run.lineText());
    return changeOwner(path, owner);
}

bool HelperController::chmod(const std::string& path, const std::string& mode) {
    ToolRun run("/bin/chmod", {ToolArgument::plain("-R"), ToolArgument::plain(mode), ToolArgument::escapedPath(path)});
    record(run.lineText());
    if (!isOctalMode(mode)) {
        log("Refusing the mode text " + mode);
        return false;
    }
    std::string why;
    if (changeModeTree(path, mode_t(std::stoul(mode, nullptr, 8)), why)) return true;
    log("Mode step on " + path + " failed: " + why);
    return false;
}

bool HelperController::copyFile(const std::string& file, const std::string& dest) {
    ToolRun copy("/bin/cp", {ToolArgument::plain("-R"), ToolArgument::escapedPath(file), ToolArgument::escapedPath(dest)});
    record(copy.lineText());
    auto failed = [&](const std::string& why) {
        log("Copy of " + file + " failed: " + why + "; " + dest + " left as it was");
        return false;
    };
    Descriptor parent;
    std::string leaf, why;
    if (!openParent(dest, parent, leaf, why)) return failed(why);
    unsigned n;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        n = ++temporaryCounter_;
    }
    // The copy is made beside the destination under a temporary name, then swapped in.
    const std::string temporary = "." + leaf + ".telvo-" + std::to_string(::getpid()) + "-" + std::to_string(n);
    std::string ignored;
    removeTreeAt(parent.get(), temporary, ignored);
    if (!copyTreeTo(file, parent.get(), temporary, why)) return failed(why);
    // Where the new copy goes in by name: without replacing, or (on a file system without
    // that flag) by a plain rename.
    auto renameInto = [&](const std::string& from) {
        if (::renameat2(parent.get(), from.c_str(), parent.get(), leaf.c_str(), RENAME_NOREPLACE) == 0) return true;
        return errno == EINVAL && ::renameat(parent.get(), from.c_str(), parent.get(), leaf.c_str()) == 0;
    };
    struct stat st {};
    if (::fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // Swap the new copy and the old destination in one step, then remove the old one.
        std::string old = temporary;
        if (::renameat2(parent.get(), temporary.c_str(), parent.get(), leaf.c_str(), RENAME_EXCHANGE) != 0) {
            const int error = errno;
            why = "cannot put the copy in place: " + std::string(std::strerror(error));
            // A file system without the exchange: the old one is moved aside first.
            old = temporary + ".old";
            removeTreeAt(parent.get(), old, ignored);
            bool placed = error == EINVAL && ::renameat(parent.get(), leaf.c_str(), parent.get(), old.c_str()) == 0;
            if (placed && !renameInto(temporary)) {
                ::renameat(parent.get(), old.c_str(), parent.get(), leaf.c_str());
                placed = false;
            }
            if (!placed) {
                removeTreeAt(parent.get(), temporary, ignored);
                return failed(why);
            }
        }
        ToolRun remove("/bin/rm", {ToolArgument::plain("-rf"), ToolArgument::escapedPath(dest)});
        record(remove.lineText());
        if (!removeTreeAt(parent.get(), old, why)) log("The old " + dest + " was not removed: " + why);
    } else if (!renameInto(temporary)) {
        why = "cannot put the copy in place: " + std::string(std::strerror(errno));
        removeTreeAt(parent.get(), temporary, ignored);
        return failed(why);
    }
    releaseFromQuarantine(dest);
    // Folders and programs 755; every other file keeps its own mode.
    ToolRun modes("/bin/chmod", {ToolArgument::plain("-R"), ToolArgument::plain("755"), ToolArgument::escapedPath(dest)});
    record(modes.lineText());
    if (installModesTree(dest, why)) return true;
    log("Mode step on " + dest + " failed: " + why);
    return false;
}

bool HelperController::killProcess(const std::string& name) {
    record("/usr/bin/killall " + escapeString(name));
    std::vector<pid_t> pids = processesNamed(name);
    if (pids.empty()) return true;
    for (pid_t pid : pids) ::kill(pid, SIGTERM);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int(kKillWaitSeconds * 1000));
    while (true) {
        std::vector<pid_t> now = processesNamed(name);
        bool alive = false;
        for (pid_t pid : pids)
            for (pid_t p : now) alive = alive || p == pid;
        if (!alive) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool HelperController::sleep(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return true;
}

bool HelperController::moveFileAtPath(const std::string& file, const std::string& dest) {
    ToolRun run("/bin/mv", {ToolArgument::plain("-f"), ToolArgument::quotedPath(file), ToolArgument::quotedPath(dest)});
    record(run.lineText());
    std::string why;
    if (movePath(file, dest, why)) return true;
    log("Move failed: " + why);
    return false;
}

bool HelperController::trash(const std::string& file, const std::string& directory) {
    if (file.empty() || directory.empty()) return false;
    const std::string target = uniquePathForFile(file, directory);
    bool ok = moveFileAtPath(file, target);
    log("trash path " + file + " -  " + target);
    return ok && occupied(target);
}

std::string HelperController::uniquePathForFile(const std::string& file, const std::string& directory) {
    const std::string name = lastComponent(file);
    std::string stem = name, extension;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        extension = name.substr(dot + 1);
    }
    std::string candidate = joined(directory, name);
    for (int counter = 2; occupied(candidate) && counter <= 999999; ++counter) {
        std::string next = stem + " (" + std::to_string(counter) + ")";
        if (!extension.empty()) next += "." + extension;
        candidate = joined(directory, next);
    }
    return candidate;
}

bool HelperController::releaseFromQuarantine(const std::string& path) {
    Descriptor parent;
    std::string leaf, why;
    if (!openParent(path, parent, leaf, why)) return false;
    Descriptor entry(::openat(parent.get(), leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!entry || ::fstat(entry.get(), &st) != 0) return false;
    // A link carries no attribute of ours, and what it points at is not ours to change.
    if (S_ISLNK(st.st_mode)) return true;
    const std::string self = "/proc/self/fd/" + std::to_string(entry.get());
    if (::removexattr(self.c_str(), fs::systemAttributeName(kQuarantineAttribute).c_str()) == 0) return true;
    return errno == ENODATA || errno == ENOTSUP;
}

bool HelperController::runSystem(const std::string& line) {
    record(line);
    return spawnAndWait({hostTool("/bin/sh"), "-c", line}) == 0;
}

bool HelperController::finishCleanup() {
    record(std::string("/bin/launchctl unload ") + kHelperJobPath + ";/bin/rm " + kHelperJobPath + ";/bin/rm " + kHelperToolPath);
    ToolRun unload("/bin/launchctl", {ToolArgument::plain("unload"), ToolArgument::escapedPath(kHelperJobPath)});
    unload.run();
    // "rm" without "-r": a file or a link goes, a folder stays.
    auto removeOne = [&](const std::string& path) {
        Descriptor parent;
        std::string leaf, why;
        if (!openParent(path, parent, leaf, why)) {
            log("Removal of " + path + " failed: " + why);
            return false;
        }
        if (::unlinkat(parent.get(), leaf.c_str(), 0) == 0) return true;
        log("Removal of " + path + " failed: " + std::strerror(errno));
        return false;
    };
    bool ok = removeOne(kHelperJobPath);
    ok = removeOne(kHelperToolPath) && ok;
    return ok;
}

}  // namespace telvo::helper
