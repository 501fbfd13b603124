#pragma once
// The interpreter of the root-side installation steps, shared by the legacy setup tool and the
// privileged helper. Each step logs the tool line it stands for and answers whether its end
// state was reached; the controller counts the steps that failed. Paths are the system's
// logical paths under the file-system root. Every step that changes a file acts through
// descriptors (FileTree): opened from the root without following a link, changed relative to
// the opened parent, trees walked without following links; only launchctl and the "system"
// step's shell are run as programs. "copy" takes regular files and folders only, copies to a
// temporary name beside the destination and swaps it in, so a copy that cannot work leaves
// the old one in place.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "helper/HelperCommand.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Listener.h"

namespace telvo {
class DDFileLogger;
}

namespace telvo::helper {

class HelperController {
public:
    static constexpr const char* kQuarantineAttribute = "com.apple.quarantine";
    // The helper's self-removal at an uninstall's "finish" with "cleanup" and "launchd".
    static constexpr const char* kHelperJobPath = "/Library/LaunchDaemons/com.kestro.telvoserver.installerhelper.plist";
    static constexpr const char* kHelperToolPath = "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper";
    // How long a "kill" waits for the processes it signalled to end.
    static constexpr double kKillWaitSeconds = 15;

    static HelperController& sharedHelper();
    void resetForTesting();

    // The privileged helper (HelperService): starts listening on its service, then runs the
    // main queue for ever.
    [[noreturn]] void start();
    // The helper's listener, the one connection it holds, and the log file its "config" opened.
    xpc::ListenerPtr listener;
    xpc::ConnectionPtr connection;
    std::shared_ptr<DDFileLogger> fileLogger;

    // Every log line of the steps (the dictionary, fallbacks, trash paths, step results).
    using Logger = std::function<void(const std::string&)>;
    void setLogger(Logger logger);

    // The step of one dictionary (the tests in order "quarantine", "system", "touch", "remove",
    // "unload-d", "mkdir", "copy", "kill", "sleep", "load-d", "move", "trash"). True when the
    // step reached its end state, or had nothing to do (an unknown command, a missing key);
    // a failure is counted and logged.
    bool processCommand(const HelperCommand& command);
    // One message of the helper: the dictionary logged, its step, then the reply ("") when
    // "reply" is present whatever its value, then for "finish" the self-removal when both
    // "cleanup" and "launchd" are present.
    void processMessage(const HelperCommand& command, const std::function<void(const std::string&)>& reply);

    int failureCount() const;
    // The lines run so far, as logged (for the log and the tests); cleared by resetForTesting.
    std::vector<std::string> lines() const;

    // The steps; each true when its end state holds afterwards.
    bool touch(const std::string& path);
    bool removeFile(const std::string& path);
    bool unloadDaemon(const std::string& path);
    bool createDirectory(const std::string& path);
    bool chownRoot(const std::string& path);
    bool chown(const std::string& path, const std::string& owner);
    bool chmod(const std::string& path, const std::string& mode);
    bool copyFile(const std::string& file, const std::string& dest);
    bool killProcess(const std::string& name);
    bool sleep(double seconds);
    bool loadDaemon(const std::string& path);
    bool moveFileAtPath(const std::string& file, const std::string& dest);
    bool trash(const std::string& file, const std::string& directory);
    std::string uniquePathForFile(const std::string& file, const std::string& directory);
    bool releaseFromQuarantine(const std::string& path);
    bool runSystem(const std::string& line);
    bool finishCleanup();

private:
    HelperController() = default;
    void log(const std::string& line);
    void record(const std::string& line);
    bool ownerStep(const std::string& path, const std::string& owner);
    bool changeOwner(const std::string& path, const std::string& owner);
    bool jobLoaded(const std::string& label);

    mutable std::mutex mutex_;
    Logger logger_;
    int failures_ = 0;
    std::vector<std::string> lines_;
    unsigned temporaryCounter_ = 0;
};

}  // namespace telvo::helper
