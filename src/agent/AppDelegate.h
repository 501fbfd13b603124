#pragma once
// The agent's whole work: answers version questions, serves its XPC service, checks the update
// feed an hour after start and then daily, downloads and unpacks an update, installs it through
// the setup plug-in of the downloaded application, tells the user, and exits with status 1 after
// a successful install so that launchd starts the new copy. Everything runs on the main queue.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/AgentSettings.h"
#include "agent/UserNotificationCenter.h"
#include "platform/dispatch/Source.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Listener.h"
#include "update/UpdateCheckerCore.h"

namespace telvo::notify {
class DistributedNotificationListener;
}

namespace telvo::agent {

// One install through a setup plug-in (the plug-in's principal class).
class PluginInstaller {
public:
    using Reply = std::function<void(long value)>;
    virtual ~PluginInstaller() = default;
    virtual bool isHelperInstalled(const std::string& application) = 0;
    virtual void setExcludeAgent(bool exclude) = 0;
    // The reply may come on any queue.
    virtual void xpcInstallFromPath(const std::string& application, Reply reply) = 0;
    virtual void destroy() = 0;
};

class AppDelegate;

// One accepted XPC connection.
class TVSAgentXPCConnection : public std::enable_shared_from_this<TVSAgentXPCConnection> {
public:
    xpc::ConnectionPtr connection;
    AppDelegate* delegate = nullptr;
    void start();
};

class AppDelegate : public update::UpdateCheckerDelegate {
public:
    static constexpr float kVersion = 3.03f;
    static constexpr int kBuild = 270;
    static constexpr const char* kAvailable = "TELVOSERVER_AGENT_AVAILABLE";
    static constexpr const char* kVersionRequest = "TelvoServerAgentVersionReqest";
    static constexpr const char* kVersionResponse = "TelvoServerAgentVersionResponse";
    // Makes the plug-in installer of a downloaded application; null when it has none that loads
    // (or the download is not the maker's).
    using InstallerFactory = std::function<std::unique_ptr<PluginInstaller>(const std::string& application, int64_t build)>;
    // Ends the process (tests record it instead).
    using Exit = std::function<void(int status)>;

    AppDelegate();
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void checkForUpdates();
    void versionRequest();
    void showUpdateNotification();
    void installFromPath(const std::string& path);
    // The control application in "/Applications" (host path), empty when none.
    std::string currentAppLocation();
    void didActivateNotification();
    void removeConnection(const std::shared_ptr<TVSAgentXPCConnection>& connection);

    // UpdateCheckerDelegate
    void updateCheckerFailedWithError(update::UpdateCheckerCore*, ErrorPtr) override;
    void updateCheckerDownloadComplete(update::UpdateCheckerCore*) override;
    void updateCheckerUpdatesAvailable(update::UpdateCheckerCore*) override;
    void updateCheckerNoUpdatesAvailable(update::UpdateCheckerCore*) override;

    // Properties.
    dispatch::SourcePtr updateTimer;
    std::unique_ptr<PluginInstaller> installer;
    double updateInterval = 86400;
    double updateDelay = 3600;
    std::vector<std::shared_ptr<TVSAgentXPCConnection>> connections;  // main queue only
    xpc::ListenerPtr listener;

    // Set before applicationDidFinishLaunching.
    // This build's identity: the program's build settings, 3.03 and 270 unless it was built as
    // another version.
    float version = kVersion;
    int build = kBuild;
    InstallerFactory installerFactory;
    Exit exitProcess;
    AgentSettings settings;
    update::UpdateCheckerCore* engine = nullptr;  // the shared engine unless a test gives one

private:
    void armTimer(double seconds);
    update::UpdateCheckerCore* checker();

    UserNotificationCenter notifications_;
    std::unique_ptr<notify::DistributedNotificationListener> requests_;
    std::shared_ptr<xpc::ListenerDelegate> listenerDelegate_;
    std::shared_ptr<bool> alive_;
};

}  // namespace telvo::agent
