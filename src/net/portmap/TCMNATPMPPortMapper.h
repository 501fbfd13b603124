#pragma once
// Maps ports with NAT-PMP (libnatpmp) when the router offers no UPnP: TCP mappings with a
// lifetime of 3600 s, renewed by a timer on the port mapper's own queue before they expire.
// The renewal interval starts at 1800 s and is lowered, never raised, by the lifetimes the
// gateway grants (half of each, at least 60 s). request() is virtual so that tests can stand in
// a gateway of their own.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include "net/portmap/TCMPortMapping.h"
#include "platform/dispatch/Source.h"

namespace telvo {

class TCMNATPMPPortMapper : public std::enable_shared_from_this<TCMNATPMPPortMapper> {
public:
    static constexpr uint32_t kLifetime = 3600;
    static constexpr double kInitialUpdateInterval = 1800;
    static constexpr double kMinimumUpdateInterval = 60;

    struct Answer {
        int result = -1;       // negative: failure (the library's code)
        int publicPort = 0;
        uint32_t lifetime = 0;
    };

    // Always held by a shared pointer (the renewal timer holds it weakly).
    TCMNATPMPPortMapper() = default;
    virtual ~TCMNATPMPPortMapper();
    TCMNATPMPPortMapper(const TCMNATPMPPortMapper&) = delete;
    TCMNATPMPPortMapper& operator=(const TCMNATPMPPortMapper&) = delete;

    // The queue the renewal timer runs on and the mappings it renews (those mapped over NAT-PMP).
    void bind(dispatch::QueuePtr queue, std::function<std::vector<TCMPortMappingPtr>()> heldMappings);

    // YES when the gateway granted a mapping; the mapping's external port is then the one granted.
    bool addPortMapping(TCMPortMapping& mapping);
    // A request of lifetime 0 for the local and external port; YES when the gateway confirmed.
    bool removePortMapping(int localPort, int externalPort);
    // (Re)arms the renewal timer.
    void refresh();
    void stop();
    // The renewal: adds every held NAT-PMP mapping again and re-arms the timer.
    void updateMappings();

    double updateInterval() const;
    bool timerArmed() const;
    int renewals() const { return renewals_; }

protected:
    // One libnatpmp exchange: a TCP mapping request, answered or given up by the library.
    virtual Answer request(int localPort, int publicPort, uint32_t lifetime);

private:
    void adjustUpdateTimer();

    mutable std::mutex mutex_;
    double updateInterval_ = kInitialUpdateInterval;
    dispatch::QueuePtr queue_;
    dispatch::SourcePtr timer_;
    std::function<std::vector<TCMPortMappingPtr>()> heldMappings_;
    std::atomic<int> renewals_{0};
};

}  // namespace telvo
