#pragma once
// The process-wide port mapper: keeps the requested mappings, finds the router and this
// machine's address on the router's network, maps over UPnP whenever the router answered it and
// over NAT-PMP otherwise, clears conflicting or stale router entries and reports one mapping
// status per request. Every operation is synchronous and may block while the router answers:
// callers run them on queue(), never on the main queue. Network changes arrive on that queue
// too, so the list of mappings is only ever touched there.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include "net/portmap/IXSCNotificationManager.h"
#include "net/portmap/TCMNATPMPPortMapper.h"
#include "net/portmap/TCMPortMapping.h"
#include "net/portmap/TCMUPNPPortMapper.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo {

// YES when the dotted IPv4 address lies in 192.168.0.0/16, 10.0.0.0/8, 172.16.0.0/12,
// 127.0.0.0/8 or 169.254.0.0/16.
bool IPv4AddressInPrivateSubnet(const std::string& address);

class TCMPortMapper;
using TCMPortMapperPtr = std::shared_ptr<TCMPortMapper>;

class TCMPortMapper : public std::enable_shared_from_this<TCMPortMapper> {
public:
    static TCMPortMapper& sharedInstance();
    static TCMPortMapperPtr sharedInstancePtr();
    // Tests: a mapper over the protocol mappers given (null: the real ones), made the shared one.
    static TCMPortMapperPtr createSharedForTesting(std::shared_ptr<TCMUPNPPortMapper> upnp,
                                                   std::shared_ptr<TCMNATPMPPortMapper> natpmp);
    static void resetForTesting();

    ~TCMPortMapper();

    dispatch::QueuePtr queue() const { return queue_; }
    std::vector<TCMPortMappingPtr> mappings() const;

    // Registers for network changes (once, however often it is called).
    void start();
    void stop();

    // All of these run on queue().
    int64_t addPortMapping(const TCMPortMappingPtr& mapping);
    void removePortMapping(const TCMPortMappingPtr& mapping);
    void removePortMappingsContaining(const std::string& text);
    void removePortMappingsWithPrefix(const std::string& prefix);
    // The router's entries, or none when the router does not speak UPnP.
    std::optional<std::vector<Value>> allPortMappings();
    void refresh();
    void refreshMappings();
    void disablePortMappings();
    void removePortMappings();
    void updateLocalIPAddress();
    std::string routerIPAddress();

    // The handlers of network change, sleep and wake.
    void networkDidChange();
    void willSleep();
    void didWake();
    void postWakeAction();

    std::string localIPAddress() const;
    bool localIPOnRouterSubnet() const;
    bool needsToRefresh() const;
    bool sleeping() const;
    TCMUPNPPortMapper& UPNPPortMapper() { return *upnp_; }
    TCMNATPMPPortMapper& NATPMPPortMapper() { return *natpmp_; }

private:
    TCMPortMapper(std::shared_ptr<TCMUPNPPortMapper> upnp, std::shared_ptr<TCMNATPMPPortMapper> natpmp);
    static TCMPortMapperPtr make(std::shared_ptr<TCMUPNPPortMapper> upnp, std::shared_ptr<TCMNATPMPPortMapper> natpmp);
    void deleteOnRouter(TCMPortMapping& mapping);
    void removeEntriesMatching(const std::function<bool(const std::string&)>& matches);

    dispatch::QueuePtr queue_;
    mutable std::mutex mutex_;
    std::vector<TCMPortMappingPtr> mappings_;
    bool needsToRefresh_ = true;
    bool sleeping_ = false;
    std::string localIPAddress_;
    bool localIPOnRouterSubnet_ = false;
    std::shared_ptr<TCMUPNPPortMapper> upnp_;
    std::shared_ptr<TCMNATPMPPortMapper> natpmp_;
    std::unique_ptr<IXSCNotificationManager> systemConfigNotificationManager_;
    notify::ObserverToken networkObserver_ = 0;
};

}  // namespace telvo
