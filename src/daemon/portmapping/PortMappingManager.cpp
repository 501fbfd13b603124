// The daemon's port mapping: statuses, router steps on the mapper's queue, notifications.
#include "daemon/portmapping/PortMappingManager.h"

#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {
std::mutex gManagerMutex;
PortMappingManager* gManager = nullptr;
}  // namespace

PortMappingManager& PortMappingManager::sharedPortMappingManager() {
    std::lock_guard<std::mutex> lock(gManagerMutex);
    if (!gManager) gManager = new PortMappingManager();
    return *gManager;
}

void PortMappingManager::resetForTesting() {
    PortMappingManager* old;
    {
        std::lock_guard<std::mutex> lock(gManagerMutex);
        old = gManager;
        gManager = nullptr;
    }
    if (!old) return;
    old->mapper_->queue()->sync([] {});
    delete old;
}

PortMappingManager::PortMappingManager() : mapper_(TCMPortMapper::sharedInstancePtr()) {
    // Made with the mapper already; a second start adds nothing.
    mapper_->start();
    TCMPortMapperPtr mapper = mapper_;
    // Entries of much older releases. First on the queue, this also gathers the router
    // information. A full stop, not a blank: this installation's own entries stay.
    mapper_->queue()->async([mapper] { mapper->removePortMappingsContaining("Telvo.Server"); });
}

int PortMappingManager::port() const {
    int64_t wanted = int32_t(TVSPreferences::sharedPreferences().objectForKey("port external").intValue());
    return wanted < 1024 || wanted > 65535 ? -1 : int(wanted);
}

std::string PortMappingManager::mappingPrefix() const {
    return "Telvo Server (" + TVSPreferences::sharedPreferences().objectForKey("port map identifier").description() +
           ")";
}

int PortMappingManager::mappedPort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_ ? mapping_->externalPort() : 0;
}

bool PortMappingManager::isPublicMapped() const {
    auto held = mapper_->mappings();
    return !held.empty() && held.front()->mappingStatus() == TCMPortMappingStatusMapped;
}

void PortMappingManager::post(const Value& userInfo) {
    notify::DistributedNotificationCenter::defaultCenter().postNotification(kUpnpUpdated, userInfo);
}

void PortMappingManager::map() {
    if (!TVSPreferences::sharedPreferences().boolForKey("map external port")) return;
    mapper_->queue()->async([this] { mapPort(); });
}

void PortMappingManager::mapPort() {
    int wanted = port();
    if (wanted == -1) {
        status_ = kInvalidPort;
        post(Value());
        return;
    }
    TCMPortMappingPtr mapping =
        TCMPortMapping::portMappingWithLocalPort(ServerManager::sharedServerManager().port(), wanted, 0);
    if (!mapping) {  // the server manager's port is always in range; nothing to map otherwise
        status_ = kFailed;
        return;
    }
    mapping->setPortDescription(format("%@ on %li", mappingPrefix(), long(wanted)));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mapping_ = mapping;
    }
    status_ = kMapping;
    post(Value(ValueDictionary{{"status", Value(1)}}));
    status_ = mapper_->addPortMapping(mapping);
    post(Value(ValueDictionary{{"status", Value(static_cast<long long>(status_.load()))},
                               {"port", Value(mappedPort())}}));
}

void PortMappingManager::mappingPreferenceChange() {
    mapper_->queue()->async([this] {
        TCMPortMappingPtr current;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current = mapping_;
        }
        if (current) mapper_->removePortMapping(current);
        mapper_->removePortMappingsWithPrefix(mappingPrefix());
        if (TVSPreferences::sharedPreferences().boolForKey("map external port")) mapPort();
    });
}

void PortMappingManager::unmapPort() {
    mapper_->queue()->async([this] {
        TCMPortMappingPtr current;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current = std::move(mapping_);
        }
        if (current) mapper_->removePortMapping(current);
        mapper_->removePortMappingsWithPrefix(mappingPrefix());
    });
}

}  // namespace telvo
