#pragma once
// Loading the setup plug-in of an application, for the control application and the agent: the
// plug-in bundle (every file of it) and its module are verified as the maker's, then the module
// is loaded through the very descriptor that was verified (RTLD_NOW | RTLD_LOCAL) and never
// unloaded. SetupBundleClient then drives one install or uninstall through the plug-in's table.
#include <functional>
#include <memory>
#include <string>
#include "platform/Error.h"
#include "setup/SetupBundleTable.h"

namespace telvo::setup {

constexpr const char* kSetupBundleIdentifier = "com.kestro.telvoserver.SetupBundle";

struct LoadedSetupBundle {
    std::string bundlePath;
    const TelvoSetupBundleTable* table = nullptr;
};
using SetupBundlePlugin = std::shared_ptr<const LoadedSetupBundle>;

// `application`: the logical path of the application bundle whose
// "Contents/Resources/SetupBundle.bundle" is loaded. Null with the error when it is not the
// maker's signed plug-in, or offers no table of this version.
SetupBundlePlugin loadSetupBundle(const std::string& application, ErrorPtr* error);

// One installer object of a loaded plug-in, for one operation.
class SetupBundleClient {
public:
    using Reply = std::function<void(long value)>;
    explicit SetupBundleClient(SetupBundlePlugin plugin);
    // Releases the object; call it only once the reply came (or none was asked for).
    ~SetupBundleClient();
    SetupBundleClient(const SetupBundleClient&) = delete;
    SetupBundleClient& operator=(const SetupBundleClient&) = delete;

    bool valid() const { return object_ != nullptr; }
    void setCurrentLocation(const std::string& path);
    void setExcludeAgent(bool exclude);
    bool isHelperInstalled(const std::string& application);
    // The reply runs on the plug-in's "installerqueue" (or at once, on this thread, for -1 of a
    // refused authorization).
    void xpcInstallFromPath(const std::string& application, Reply reply);
    void xpcUninstallWithBundle(const std::string& application, Reply reply);
    std::string installLocation() const;
    void destroy();

private:
    static void deliver(void* context, long value);
    SetupBundlePlugin plugin_;
    void* object_ = nullptr;
    Reply reply_;
};

}  // namespace telvo::setup
