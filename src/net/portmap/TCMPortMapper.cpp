// The port mapper's coordination of router information, protocols and requested mappings.
#include "net/portmap/TCMPortMapper.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cstdio>
#include "net/portmap/PortMapperLog.h"
#include "platform/netstate/DynamicStore.h"

namespace telvo {

namespace {

std::mutex gSharedMutex;
TCMPortMapperPtr gShared;

bool parseIPv4(const std::string& text, uint32_t& out) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    out = ntohl(a.s_addr);
    return true;
}

bool sameSubnet(const std::string& a, const std::string& b, const std::string& mask) {
    uint32_t x, y, m;
    return parseIPv4(a, x) && parseIPv4(b, y) && parseIPv4(mask, m) && (x & m) == (y & m);
}

std::string selfDescription(const void* p) {
    char text[64];
    std::snprintf(text, sizeof text, "<TCMPortMapper: %p>", p);
    return text;
}

}  // namespace

bool IPv4AddressInPrivateSubnet(const std::string& address) {
    static const char* const networks[][2] = {{"192.168.0.0", "255.255.0.0"},
                                              {"10.0.0.0", "255.0.0.0"},
                                              {"172.16.0.0", "255.240.0.0"},
                                              {"127.0.0.1", "255.0.0.0"},
                                              {"169.254.0.0", "255.255.0.0"}};
    for (const auto& n : networks)
        if (sameSubnet(address, n[0], n[1])) return true;
    return false;
}

TCMPortMapperPtr TCMPortMapper::make(std::shared_ptr<TCMUPNPPortMapper> upnp,
                                     std::shared_ptr<TCMNATPMPPortMapper> natpmp) {
    TCMPortMapperPtr m(new TCMPortMapper(upnp ? std::move(upnp) : std::make_shared<TCMUPNPPortMapper>(),
                                         natpmp ? std::move(natpmp) : std::make_shared<TCMNATPMPPortMapper>()));
    std::weak_ptr<TCMPortMapper> weak = m;
    m->natpmp_->bind(m->queue_, [weak] {
        auto self = weak.lock();
        return self ? self->mappings() : std::vector<TCMPortMappingPtr>{};
    });
    m->start();
    return m;
}

TCMPortMapper::TCMPortMapper(std::shared_ptr<TCMUPNPPortMapper> upnp, std::shared_ptr<TCMNATPMPPortMapper> natpmp)
    : queue_(dispatch::Queue::createSerial(selfDescription(this))), upnp_(std::move(upnp)), natpmp_(std::move(natpmp)) {
    systemConfigNotificationManager_ = std::make_unique<IXSCNotificationManager>(queue_);
    systemConfigNotificationManager_->setObservedKeys({netstate::DynamicStore::kGlobalIPv4Key}, {});
}

TCMPortMapper::~TCMPortMapper() { stop(); }

TCMPortMapper& TCMPortMapper::sharedInstance() { return *sharedInstancePtr(); }

TCMPortMapperPtr TCMPortMapper::sharedInstancePtr() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = make(nullptr, nullptr);
    return gShared;
}

TCMPortMapperPtr TCMPortMapper::createSharedForTesting(std::shared_ptr<TCMUPNPPortMapper> upnp,
                                                       std::shared_ptr<TCMNATPMPPortMapper> natpmp) {
    TCMPortMapperPtr m = make(std::move(upnp), std::move(natpmp));
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (gShared) gShared->stop();
    gShared = m;
    return m;
}

void TCMPortMapper::resetForTesting() {
    TCMPortMapperPtr old;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        old = std::move(gShared);
    }
    if (old) {
        old->stop();
        // Lets blocks already queued finish before the mapper goes.
        old->queue_->sync([] {});
    }
}

std::vector<TCMPortMappingPtr> TCMPortMapper::mappings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mappings_;
}

std::string TCMPortMapper::localIPAddress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return localIPAddress_;
}

bool TCMPortMapper::localIPOnRouterSubnet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return localIPOnRouterSubnet_;
}

bool TCMPortMapper::needsToRefresh() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return needsToRefresh_;
}

bool TCMPortMapper::sleeping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeping_;
}

void TCMPortMapper::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (networkObserver_) return;
    std::weak_ptr<TCMPortMapper> weak = weak_from_this();
    // Posted on this mapper's queue by its own watcher, so the handler runs there.
    networkObserver_ = notify::NotificationCenter::defaultCenter().addObserver(
        netstate::DynamicStore::kGlobalIPv4Key, systemConfigNotificationManager_.get(), nullptr,
        [weak](const notify::Notification&) {
            if (auto self = weak.lock()) self->networkDidChange();
        });
}

void TCMPortMapper::stop() {
    notify::ObserverToken token;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token = networkObserver_;
        networkObserver_ = 0;
    }
    if (token) notify::NotificationCenter::defaultCenter().removeObserver(token);
    upnp_->stop();
    natpmp_->stop();
}

std::string TCMPortMapper::routerIPAddress() {
    auto session = netstate::DynamicStoreSession::create("TCMPortMapper", nullptr, nullptr);
    return session->copyValue(netstate::DynamicStore::kGlobalIPv4Key)["Router"].stringValue();
}

void TCMPortMapper::updateLocalIPAddress() {
    std::string router = routerIPAddress();
    auto session = netstate::DynamicStoreSession::create("TCMPortMapper", nullptr, nullptr);
    std::string primary =
        session->copyValue(netstate::DynamicStore::kGlobalIPv4Key)["PrimaryInterface"].stringValue();
    auto second = netstate::DynamicStoreSession::create("TCMPortMapper", nullptr, nullptr);
    Value iface = primary.empty() ? Value() : second->copyValue(netstate::DynamicStore::interfaceIPv4Key(primary));
    const ValueArray& addresses = iface["Addresses"].array();
    const ValueArray& masks = iface["SubnetMasks"].array();
    std::string local;
    bool onSubnet = false;
    if (!router.empty()) {
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (i >= masks.size()) continue;
            if (sameSubnet(addresses[i].stringValue(), router, masks[i].stringValue())) {
                local = addresses[i].stringValue();
                onSubnet = true;
                break;
            }
        }
    }
    if (!onSubnet && !addresses.empty()) local = addresses.back().stringValue();
    std::lock_guard<std::mutex> lock(mutex_);
    localIPAddress_ = local;
    localIPOnRouterSubnet_ = onSubnet;
}

void TCMPortMapper::refresh() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        needsToRefresh_ = false;
    }
    std::string router = routerIPAddress();
    if (router.empty()) return;
    updateLocalIPAddress();
    if (!localIPAddress().empty() && localIPOnRouterSubnet() && IPv4AddressInPrivateSubnet(router)) {
        natpmp_->refresh();
        upnp_->refresh(router);
    }
}

std::optional<std::vector<Value>> TCMPortMapper::allPortMappings() {
    if (needsToRefresh()) refresh();
    if (!upnp_->supported()) return std::nullopt;
    return upnp_->allPortMappings();
}

int64_t TCMPortMapper::addPortMapping(const TCMPortMappingPtr& mapping) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(mappings_.begin(), mappings_.end(), mapping) == mappings_.end()) mappings_.push_back(mapping);
    }
    bool found = false, taken = false;
    std::string description = mapping->portDescription();
    if (auto entries = allPortMappings()) {
        std::string local = localIPAddress();
        for (const Value& e : *entries) {
            if (e["protocol"].stringValue() != "TCP" || e["publicPort"].intValue() != mapping->desiredExternalPort())
                continue;
            if (e["description"].stringValue() != description) {
                taken = true;
                continue;
            }
            PortMapperLog("mapping has same description");
            if (e["ipAddress"].stringValue() == local && e["localPort"].intValue() == mapping->localPort()) {
                mapping->setExternalPort(mapping->desiredExternalPort());
                found = true;
            } else {
                upnp_->removePortMapping(int(e["publicPort"].intValue()), "TCP");
            }
        }
    }
    if (found) {
        mapping->setMappedWith(TCMMappingProtocol::UPnP);
        mapping->setMappingStatus(TCMPortMappingStatusMapped);
    } else if (taken) {
        mapping->setMappingStatus(TCMPortMappingStatusPortTaken);
    } else {
        mapping->setMappingStatus(TCMPortMappingStatusTrying);
        bool ok;
        if (upnp_->supported()) {
            ok = upnp_->addPortMapping(*mapping, localIPAddress());
            if (ok) mapping->setMappedWith(TCMMappingProtocol::UPnP);
        } else {
            ok = natpmp_->addPortMapping(*mapping);
            if (ok) mapping->setMappedWith(TCMMappingProtocol::NATPMP);
        }
        mapping->setMappingStatus(ok ? TCMPortMappingStatusMapped : TCMPortMappingStatusFailed);
    }
    return mapping->mappingStatus();
}

void TCMPortMapper::deleteOnRouter(TCMPortMapping& mapping) {
    if (mapping.mappingStatus() == TCMPortMappingStatusUnmapped) return;
    if (upnp_->supported())
        upnp_->removePortMapping(mapping.externalPort(), "TCP");
    else
        natpmp_->removePortMapping(mapping.localPort(), mapping.externalPort());
}

void TCMPortMapper::removePortMapping(const TCMPortMappingPtr& mapping) {
    if (!mapping) return;
    deleteOnRouter(*mapping);
    std::lock_guard<std::mutex> lock(mutex_);
    mappings_.erase(std::remove(mappings_.begin(), mappings_.end(), mapping), mappings_.end());
}

void TCMPortMapper::removeEntriesMatching(const std::function<bool(const std::string&)>& matches) {
    auto entries = allPortMappings();
    if (!entries) return;
    for (const Value& e : *entries) {
        if (!matches(e["description"].stringValue())) continue;
        // The entry's own protocol: a UDP entry of ours never takes a TCP forwarding with it.
        std::string protocol = e["protocol"].stringValue();
        upnp_->removePortMapping(int(e["publicPort"].intValue()), protocol.empty() ? "TCP" : protocol);
    }
}

void TCMPortMapper::removePortMappingsContaining(const std::string& text) {
    removeEntriesMatching([&](const std::string& d) { return d.find(text) != std::string::npos; });
}

void TCMPortMapper::removePortMappingsWithPrefix(const std::string& prefix) {
    removeEntriesMatching([&](const std::string& d) { return d.compare(0, prefix.size(), prefix) == 0; });
}

void TCMPortMapper::refreshMappings() {
    if (needsToRefresh()) refresh();
    for (const auto& m : mappings()) addPortMapping(m);
}

void TCMPortMapper::disablePortMappings() {
    for (const auto& m : mappings()) deleteOnRouter(*m);
}

void TCMPortMapper::removePortMappings() {
    for (const auto& m : mappings()) removePortMapping(m);
}

void TCMPortMapper::networkDidChange() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sleeping_) return;
        needsToRefresh_ = true;
    }
    refreshMappings();
}

void TCMPortMapper::willSleep() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeping_ = true;
    }
    disablePortMappings();
}

void TCMPortMapper::didWake() {
    std::weak_ptr<TCMPortMapper> weak = weak_from_this();
    queue_->after(2.0, [weak] {
        if (auto self = weak.lock()) self->postWakeAction();
    });
}

void TCMPortMapper::postWakeAction() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeping_ = false;
        needsToRefresh_ = true;
    }
    refreshMappings();
}

}  // namespace telvo
