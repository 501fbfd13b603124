#include "helper/HelperPolicy.h"

#include "platform/authorization/Authorization.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <set>
#include <tuple>
#include "helper/LegacySetupLists.h"
#include "platform/fs/Root.h"

namespace telvo::helper {

namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    size_t at = 1;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        out.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return out;
}

std::string lastOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The lists' fixed steps: (command, file) for the one-path steps, and (dest, resource name)
// for copies from the plug-in's resources.
struct FixedSteps {
    std::set<std::pair<std::string, std::string>> paths;
    std::set<std::pair<std::string, std::string>> copies;
};

const FixedSteps& fixedSteps() {
    static const FixedSteps steps = [] {
        FixedSteps s;
        std::vector<HelperCommand> all = legacyInstallList("/B");
        for (const HelperCommand& c : legacyUninstallList()) all.push_back(c);
        // The setup plug-in's uninstall also removes what a first install placed for polkit.
        for (const char* placed : {authorization::kPolicyInstallPath, authorization::kTrampolinePath})
            all.push_back(HelperCommand::make("remove", {{"file", Value(placed)}}));
        for (const HelperCommand& c : all) {
            if (c.command() == "copy") {
                s.copies.insert({c.text("dest"), lastOf(c.text("file"))});
            } else if (c.has("file")) {
                s.paths.insert({c.command(), c.text("file")});
            }
        }
        return s;
    }();
    return steps;
}

bool ownerAllowed(const std::string& owner, const PeerUser& user) {
    if (owner == "root") return true;
    size_t colon = owner.find(':');
    if (colon == std::string::npos) return false;
    const std::string uid = owner.substr(0, colon), gid = owner.substr(colon + 1);
    if (uid != std::to_string(user.uid)) return false;
    for (gid_t g : user.groups)
        if (gid == std::to_string(g)) return true;
    return false;
}

bool refuse(std::string& why, const std::string& text) {
    why = text;
    return false;
}

}  // namespace

bool lookUpPeerUser(uid_t uid, PeerUser& out, std::string& why) {
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) {
        why = "user " + std::to_string(uid) + " has no account";
        return false;
    }
    out.uid = pw.pw_uid;
    out.gid = pw.pw_gid;
    out.name = pw.pw_name;
    // The home folder as the components name it (under the file-system root).
    if (!pw.pw_dir || !fs::logicalPath(pw.pw_dir, out.home)) {
        why = "the home folder of user " + out.name + " lies outside the file-system root";
        return false;
    }
    while (out.home.size() > 1 && out.home.back() == '/') out.home.pop_back();
    if (!isWholePath(out.home) || out.home == "/") {
        why = "user " + out.name + " has no usable home folder";
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(out.name.c_str(), out.gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(out.name.c_str(), out.gid, groups.data(), &count) < 0) count = 0;
    }
    groups.resize(size_t(count));
    out.groups = groups;
    if (out.groups.empty()) out.groups.push_back(out.gid);
    return true;
}

std::string helperLogFolder(const PeerUser& user) { return user.home + "/Library/Logs/Telvo Server/InstallerHelper"; }
std::string trashFolder(const PeerUser& user) { return user.home + "/.Trash"; }

bool isWholePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    std::string p = path;
    // One trailing slash names the folder itself, as the lists write folders.
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/") return true;
    for (const std::string& c : components(p))
        if (c.empty() || c == "." || c == "..") return false;
    return true;
}

bool isApplicationsCopyTarget(const std::string& path) {
    if (!isWholePath(path) || path.back() == '/') return false;
    std::vector<std::string> parts = components(path);
    if (parts.size() < 2 || parts.front() != "Applications") return false;
    const std::string& name = parts.back();
    return name.rfind("Telvo Server", 0) == 0 && endsWith(name, ".app");
}

std::string outermostApplication(const std::string& path) {
    if (!isWholePath(path)) return "";
    std::string so_far;
    for (const std::string& c : components(path)) {
        if (c.empty()) break;
        so_far += "/" + c;
        if (endsWith(c, ".app") && c.size() > 4) return so_far;
    }
    return "";
}

bool permits(const HelperCommand& c, const PeerUser& user, std::string& why) {
    const std::string name = c.command();
    const std::string file = c.text("file"), dest = c.text("dest");
    // "kill" names a process, not a path.
    if (name == "kill") {
        if (file == "TelvoServerDaemon") return true;
        return refuse(why, "\"kill\" of " + file + " is not an installation step");
    }
    for (const char* key : {"file", "dest"}) {
        if (c.has(key) && !isWholePath(c.text(key)))
            return refuse(why, std::string("\"") + key + "\" is not a whole absolute path: " + c.text(key));
    }
    if (c.has("chown") && !ownerAllowed(c.text("chown"), user))
        return refuse(why, "owner \"" + c.text("chown") + "\" is neither root nor the caller with one of its groups");
    if (c.has("chmod") && c.text("chmod") != "755" && c.text("chmod") != "644")
        return refuse(why, "mode \"" + c.text("chmod") + "\" is neither 755 nor 644");

    if (name == "config") {
        if (c.text("log") != helperLogFolder(user))
            return refuse(why, "\"config\" logs only into " + helperLogFolder(user));
        return true;
    }
    if (name == "sleep" || name == "finish") return true;
    if (name == "system" || name == "move" || name == "quarantine")
        return refuse(why, "\"" + name + "\" is not run for callers");
    if (name == "copy") {
        if (outermostApplication(file).empty()) return refuse(why, "the source of a copy lies in no application: " + file);
        if (isApplicationsCopyTarget(dest)) {
            // The application copy gives the application to its user.
            if (outermostApplication(file) != file) return refuse(why, "only a whole application is copied to " + dest);
            return true;
        }
        if (fixedSteps().copies.count({dest, lastOf(file)})) return true;
        return refuse(why, "a copy of " + lastOf(file) + " to " + dest + " is not an installation step");
    }
    if (name == "trash") {
        if (!isApplicationsCopyTarget(file)) return refuse(why, "only an application in /Applications goes to the Trash: " + file);
        if (dest != trashFolder(user)) return refuse(why, "the Trash of this caller is " + trashFolder(user));
        return true;
    }
    if (!c.has("file")) return refuse(why, "\"" + name + "\" without \"file\"");
    if (fixedSteps().paths.count({name, file})) return true;
    // The lists touch the installed application after copying it.
    if (name == "touch" && isApplicationsCopyTarget(file)) return true;
    return refuse(why, "\"" + name + "\" of " + file + " is not an installation step");
}

}  // namespace telvo::helper
