// TelvoServerAgent: the per-user agent that keeps the system up to date.
#include <cstdlib>

#include "agent/AppDelegate.h"
#include "agent/SetupPluginInstaller.h"
#include "platform/codesign/ProtectSelf.h"
#include "platform/dispatch/MainLoop.h"

// The version and build this program answers with (build settings).
#ifndef TELVO_AGENT_VERSION
#define TELVO_AGENT_VERSION 3.03f
#endif
#ifndef TELVO_AGENT_BUILD
#define TELVO_AGENT_BUILD 270
#endif

int main() {
    telvo::codesign::protectSelf();
    static telvo::agent::AppDelegate delegate;
    delegate.version = TELVO_AGENT_VERSION;
    delegate.build = TELVO_AGENT_BUILD;
    delegate.settings = telvo::agent::AgentSettings::load();
    delegate.installerFactory = [](const std::string& application, int64_t) {
        return telvo::agent::loadSetupPluginInstaller(application);
    };
    // A test setting: an earlier first check (seconds after start).
    if (const char* first = std::getenv("TELVO_AGENT_FIRST_CHECK")) {
        double seconds = std::atof(first);
        if (seconds > 0) delegate.updateDelay = seconds;
    }
    delegate.applicationDidFinishLaunching();
    telvo::dispatch::MainLoop::runForever();
}
