#pragma once
// The setup plug-in's principal class: one install or one uninstall of the whole system. It
// blesses the privileged helper when the helper is missing or of another version, sends it the
// install or uninstall list of encrypted commands without waiting, and reports one integer
// once the helper answered the closing "finish": -1 failure, 1 done, 2 done with the
// application copied to installLocation(). Compiled into the plug-in module only (the
// "Installer" suffix keeps it apart from the classes of the process that loads it).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include "helper/HelperCommand.h"
#include "platform/authorization/Authorization.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"
#include "platform/xpc/Connection.h"

namespace telvo {
class DDFileLogger;
}

namespace telvo::setup {

constexpr const char* kHelperLabel = "com.kestro.telvoserver.installerhelper";
constexpr const char* kAgentJobFile = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";
constexpr const char* kApplicationIdentifier = "com.kestro.telvoserver";
constexpr const char* kLogFolder = "~/Library/Logs/Telvo Server/SetupBundle";

class SetupBundleInstaller {
public:
    using Reply = std::function<void(long value)>;

    // init: the two queues, the empty list and the rolling file logger (added, never removed).
    SetupBundleInstaller();
    ~SetupBundleInstaller();
    SetupBundleInstaller(const SetupBundleInstaller&) = delete;
    SetupBundleInstaller& operator=(const SetupBundleInstaller&) = delete;

    void setCurrentLocation(const std::string& path) { currentLocation = path; }
    void setExcludeAgent(bool exclude) { excludeAgent = exclude; }
    // Whether the helper installed in the system instance carries the "CFBundleVersion" of the
    // one inside the application at `path`.
    bool isHelperInstalled(const std::string& path);
    void xpcInstallFromPath(const std::string& path, Reply reply);
    void xpcUninstallWithBundle(const std::string& path, Reply reply);
    // Frees the authorization reference.
    void destroy();

    // Internal operations, kept under their names.
    bool authorizeHelper();
    bool startHelper();
    std::optional<Bytes> encryptDictionary(const helper::HelperCommand& command) const;
    std::string currentAppLocation() const;
    void loadAgent();
    void unloadAgent();

    // The install and uninstall lists, as they would be sent (the config step included).
    std::vector<helper::HelperCommand> installList(const std::string& application, bool& copied);
    std::vector<helper::HelperCommand> uninstallList();

    // Fields, in the order of the class they stand for.
    authorization::AuthorizationRef auth = nullptr;
    bool excludeAgent = false;
    std::string bundle;  // the "SetupBundle.bundle" of the application worked on
    std::string installLocation;  // read by callers after the reply
    std::optional<std::string> currentLocation;
    dispatch::QueuePtr queue;     // "installerqueue": every reply
    dispatch::QueuePtr xpcQueue;  // "installerxpcqueue": made, not used
    std::shared_ptr<DDFileLogger> fileLogger;
    std::vector<helper::HelperCommand> commands;

private:
    // The connection, the list sent without waiting, "finish" with the real reply.
    bool sendCommands(const helper::HelperCommand& finish, std::function<void()> finished, const Reply& reply,
                      const char* finalizeLine);
    // Queues the value on "installerqueue" unless a reply was given already.
    void queueReply(const Reply& reply, long value);
    // Gives the value at once, on the caller's thread (a refused authorization).
    void replyNow(const Reply& reply, long value);

    struct State {
        std::mutex mutex;
        bool replied = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    xpc::ConnectionPtr connection_;
};

// The logged lines go to the system log and to the plug-in's file logger.
void installerLog(const char* function, int line, const std::string& text);

}  // namespace telvo::setup
