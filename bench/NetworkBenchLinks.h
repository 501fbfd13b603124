#pragma once
// The network collector benches' stand-ins for this machine's network: a fixture store as the
// collector's dynamic store and a link list the bench changes between ticks as what the
// collector reads; both reset when it goes.
#include <net/if.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"

namespace telvo::bench {

// An Ethernet link that is up with its carrier and has counters.
inline netstate::LinkInfo upEthernetLink(int index, const std::string& name, const std::array<uint8_t, 6>& address) {
    netstate::LinkInfo l;
    l.index = index;
    l.name = name;
    l.type = 1;
    l.flags = IFF_UP;
    l.operstate = 6;
    l.carrier = 1;
    l.address.assign(address.begin(), address.end());
    l.hasStats = true;
    return l;
}

struct FixtureNetwork {
    std::shared_ptr<std::vector<netstate::LinkInfo>> links = std::make_shared<std::vector<netstate::LinkInfo>>();
    std::shared_ptr<netstate::FixtureSource> store = std::make_shared<netstate::FixtureSource>();

    FixtureNetwork() {
        netstate::DynamicStore::setSourceForTesting(store);
        auto shared = links;
        NetworkStatCollectorMac::setLinkReaderForTesting([shared](std::vector<netstate::LinkInfo>& out) {
            out = *shared;
            return true;
        });
    }
    ~FixtureNetwork() {
        NetworkStatCollectorMac::resetForTesting();
        netstate::DynamicStore::resetForTesting();
    }
    FixtureNetwork(const FixtureNetwork&) = delete;
    FixtureNetwork& operator=(const FixtureNetwork&) = delete;
};

}  // namespace telvo::bench
