// Maps the daemon's port on the router of the network namespace it runs in, through the
// port-mapping manager as the daemon does, and prints what happened for the test script:
//   upnp      map 5109; print the notifications and the resulting status
//   remap     the wanted port becomes 5110: the entry for 5109 goes, 5110 is mapped
//   natpmp    map 5109 (the router answers only NAT-PMP), then let the renewal fall due on the
//             virtual clock and print whether it was renewed
#include <cstdio>
#include <cstdlib>
#include <string>
#include "daemon/TVSPreferences.h"
#include "daemon/portmapping/PortMappingManager.h"
#include "net/portmap/TCMPortMapper.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/process/ProcessIdentity.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

[[noreturn]] void finish(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

void printUpdates(notify::DistributedNotificationListener& listener, size_t expected) {
    for (size_t i = 0; i < expected; ++i) {
        notify::DistributedNotification n;
        if (!listener.waitFor(PortMappingManager::kUpnpUpdated, 15, &n)) {
            say("missing notification");
            return;
        }
        std::string line = "notification status=" + std::to_string(n.userInfo["status"].intValue());
        if (n.userInfo.has("port")) line += " port=" + std::to_string(n.userInfo["port"].intValue());
        say(line);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    platform::ProcessIdentity::setBundleIdentifier("com.kestro.telvoserverdaemon");
    if (mode == "natpmp") platform::Clock::useVirtual(platform::Clock::now());

    TVSPreferences& prefs = TVSPreferences::sharedPreferences();
    prefs.setBool(true, "map external port");
    prefs.setObject(Value("5109"), "port");
    prefs.setObject(Value(mode == "remap" ? "5110" : "5109"), "port external");
    say("identifier " + prefs.objectForKey("port map identifier").description());

    notify::DistributedNotificationListener listener;
    if (!listener.isListening()) {
        say("cannot listen for notifications");
        finish(2);
    }
    PortMappingManager& manager = PortMappingManager::sharedPortMappingManager();
    TCMPortMapper& mapper = TCMPortMapper::sharedInstance();
    if (mode == "remap")
        manager.mappingPreferenceChange();
    else
        manager.map();
    manager.queue()->sync([] {});
    printUpdates(listener, 2);
    say("status " + std::to_string(manager.status()) + " port " + std::to_string(manager.mappedPort()));

    if (mode == "remap") {
        bool gone = true;
        mapper.queue()->sync([&] {
            if (auto entries = mapper.allPortMappings())
                for (const Value& e : *entries)
                    if (e["publicPort"].intValue() == 5109 && e["protocol"].stringValue() == "TCP") gone = false;
        });
        say(std::string("remapped 5110: removed 5109 ") + (gone ? "yes" : "no"));
    }
    if (mode == "natpmp") {
        say("renewal interval " + std::to_string(int(mapper.NATPMPPortMapper().updateInterval())));
        dispatch::MainLoop::runFor(mapper.NATPMPPortMapper().updateInterval() + 1);
        mapper.queue()->sync([] {});
        auto held = mapper.mappings();
        say("renewed " + std::to_string(mapper.NATPMPPortMapper().renewals()) + " status " +
            std::to_string(held.empty() ? -1 : held.front()->mappingStatus()));
    }
    finish(manager.status() == PortMappingManager::kMapped ? 0 : 1);
}
