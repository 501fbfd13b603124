#include "agent/SetupPluginInstaller.h"

#include "platform/systemlog/SystemLog.h"
#include "setup/SetupBundleLoader.h"

namespace telvo::agent {
namespace {

class SetupPluginInstaller : public PluginInstaller {
public:
    explicit SetupPluginInstaller(setup::SetupBundlePlugin plugin) : client_(std::move(plugin)) {}
    bool valid() const { return client_.valid(); }
    bool isHelperInstalled(const std::string& application) override { return client_.isHelperInstalled(application); }
    void setExcludeAgent(bool exclude) override { client_.setExcludeAgent(exclude); }
    void xpcInstallFromPath(const std::string& application, Reply reply) override {
        client_.xpcInstallFromPath(application, [reply](long value) { reply(value); });
    }
    void destroy() override { client_.destroy(); }

private:
    setup::SetupBundleClient client_;
};

}  // namespace

std::unique_ptr<PluginInstaller> loadSetupPluginInstaller(const std::string& application) {
    ErrorPtr error;
    setup::SetupBundlePlugin plugin = setup::loadSetupBundle(application, &error);
    if (!plugin) {
        SystemLog("The setup plug-in of %@ was not loaded: %@", application, error ? error->message : "");
        return nullptr;
    }
    auto installer = std::make_unique<SetupPluginInstaller>(plugin);
    if (!installer->valid()) {
        SystemLog("The setup plug-in of %@ made no installer", application);
        return nullptr;
    }
    return installer;
}

}  // namespace telvo::agent
