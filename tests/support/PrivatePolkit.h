#pragma once
// A polkit of a test's own, inside the mount namespace the test already made (with an empty
// /run/dbus): tmpfs over the rules and actions folders, our policy copied in, a system bus, and
// polkitd started again for each rule file and waited for on the bus. The machine's own bus and
// rules are never touched.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace telvo::testing {

class PrivatePolkit {
public:
    struct Options {
        // Folders made tmpfs besides the rules and actions folders.
        std::vector<std::string> moreFolders;
        std::string tmpfsSize = "1m";
        // polkit's stock actions (the one pkexec runs a program under) stay known.
        bool keepStockActions = false;
    };

    PrivatePolkit() = default;
    PrivatePolkit(const PrivatePolkit&) = delete;
    PrivatePolkit& operator=(const PrivatePolkit&) = delete;
    ~PrivatePolkit() { stop(); }

    // Why this machine cannot run it (the reason to skip), or empty; `needPkexec`: a set-user-id
    // pkexec is needed as well.
    static std::string missing(bool needPkexec) {
        if (::access("/usr/lib/polkit-1/polkitd", X_OK) != 0 || ::access("/usr/bin/pkcheck", X_OK) != 0)
            return "polkitd and pkcheck are needed (scripts/install-deps.sh)";
        struct stat pkexec {};
        if (needPkexec && (::stat("/usr/bin/pkexec", &pkexec) != 0 || !(pkexec.st_mode & S_ISUID)))
            return "a set-user-id pkexec is needed (scripts/install-deps.sh)";
        if (std::system("command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null") != 0)
            return "dbus-daemon and dbus-send are needed";
        return "";
    }

    // Mounts the folders, copies our policy and starts the system bus; false with `why` set.
    bool start(const Options& options, std::string& why) {
        const std::string stock = "/usr/share/polkit-1/actions/org.freedesktop.policykit.policy";
        std::string stockText;
        if (options.keepStockActions) {
            std::ifstream in(stock);
            stockText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        std::vector<std::string> folders{"/etc/polkit-1/rules.d", "/usr/share/polkit-1/actions"};
        folders.insert(folders.end(), options.moreFolders.begin(), options.moreFolders.end());
        const std::string data = "mode=0755,size=" + options.tmpfsSize;
        for (const std::string& folder : folders) {
            std::error_code ignored;
            std::filesystem::create_directories(folder, ignored);
            if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, data.c_str()) != 0) {
                why = "cannot mount a tmpfs over " + folder;
                return false;
            }
        }
        if (!stockText.empty()) std::ofstream(stock) << stockText;
        std::error_code error;
        std::filesystem::copy_file(std::string(TELVO_SOURCE_DIR) +
                                       "/programs/telvo-privileged-exec/com.kestro.telvoserver.policy",
                                   "/usr/share/polkit-1/actions/com.kestro.telvoserver.policy", error);
        if (error) {
            why = "cannot copy our policy: " + error.message();
            return false;
        }
        if (std::system("dbus-daemon --system --fork >/dev/null") != 0) {
            why = "the system bus did not start";
            return false;
        }
        bus_ = true;
        return true;
    }

    // Writes `rules` as the only rule file and starts polkitd again; true once it owns its name
    // on the bus.
    bool useRules(const std::string& rules) {
        std::ofstream("/etc/polkit-1/rules.d/00-telvo-test.rules", std::ios::trunc) << rules;
        stopPolkitd();
        polkitd_ = ::fork();
        if (polkitd_ == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl("/usr/lib/polkit-1/polkitd", "polkitd", "--no-debug", nullptr);
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::system("dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                            "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null "
                            "| grep -q 'boolean true'") == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // The rule that makes `user` polkit's only administrator, for the start of a rule file.
    static std::string onlyAdministrator(const std::string& user) {
        return "polkit.addAdminRule(function(action, subject) { return [\"unix-user:" + user + "\"]; });\n";
    }

    void stop() {
        stopPolkitd();
        if (bus_) std::system("kill $(cat /run/dbus/pid) 2>/dev/null");
        bus_ = false;
    }

private:
    void stopPolkitd() {
        if (polkitd_ <= 0) return;
        ::kill(polkitd_, SIGTERM);
        ::waitpid(polkitd_, nullptr, 0);
        polkitd_ = -1;
    }

    pid_t polkitd_ = -1;
    bool bus_ = false;
};

}  // namespace telvo::testing
