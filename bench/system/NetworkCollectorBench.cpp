// The network collector: one tick with eight interfaces (the rates, the primary counters and
// the bandwidth buckets from one link list) and one full configuration rescan of eight
// services, on a fixture store and fixture links so the figures do not depend on this
// machine's interfaces; and one real link dump of this machine's namespace.
#include <benchmark/benchmark.h>

#include <net/if.h>
#include <sys/socket.h>

#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/netstate/LinkDumpReader.h"
#include "platform/netstate/NetworkKeys.h"

using namespace telvo;

namespace {

struct EightInterfaces {
    std::shared_ptr<std::vector<netstate::LinkInfo>> links = std::make_shared<std::vector<netstate::LinkInfo>>();
    std::shared_ptr<netstate::FixtureSource> store = std::make_shared<netstate::FixtureSource>();

    EightInterfaces() {
        netstate::NetworkDumps d;
        for (int i = 1; i <= 8; ++i) {
            netstate::LinkInfo l;
            l.index = i + 1;
            l.name = "eth" + std::to_string(i);
            l.type = 1;
            l.flags = IFF_UP;
            l.operstate = 6;
            l.carrier = 1;
            l.address = {2, 0, 0, 0, 0, uint8_t(i)};
            l.hasStats = true;
            links->push_back(l);
            netstate::InterfaceAddress a;
            a.interfaceIndex = l.index;
            a.family = AF_INET;
            a.address = "10.0." + std::to_string(i) + ".2";
            a.prefixLength = 24;
            d.addresses.push_back(a);
            a.family = AF_INET6;
            a.address = "fe80::" + std::to_string(i);
            a.prefixLength = 64;
            d.addresses.push_back(a);
        }
        netstate::Ipv4Route r;
        r.interfaceIndex = 2;
        r.gateway = "10.0.1.1";
        r.type = 1;
        d.routes.push_back(r);
        d.links = *links;
        d.dnsServers = {"10.0.1.1"};
        for (const auto& [k, v] : netstate::buildNetworkKeys(d)) store->setValue(k, v);
        netstate::DynamicStore::setSourceForTesting(store);
        auto shared = links;
        NetworkStatCollectorMac::setLinkReaderForTesting([shared](std::vector<netstate::LinkInfo>& out) {
            out = *shared;
            return true;
        });
    }
    ~EightInterfaces() {
        NetworkStatCollectorMac::resetForTesting();
        netstate::DynamicStore::resetForTesting();
    }
};

void BM_NetworkTick(benchmark::State& state) {
    EightInterfaces net;
    auto c = std::make_shared<NetworkStatCollectorMac>();
    c->setup();
    c->setBandwidthMonitoringEnabled(true);
    c->setNextBandwidthUpdateTime(4e9);  // no period end inside the run
    uint64_t n = 0;
    for (auto _ : state) {
        for (auto& l : *net.links) {
            l.rxBytes = n * 1500;
            l.txBytes = n * 700;
        }
        ++n;
        c->sampleIndexRecord(0)->sampleID += 1;
        c->updateStats();
        benchmark::DoNotOptimize(c->storageForType(0)[0].values[0]);
    }
    state.counters["items"] = static_cast<double>(c->items().size());
    c->cleanup();
}
BENCHMARK(BM_NetworkTick);

void BM_NetworkRescan(benchmark::State& state) {
    EightInterfaces net;
    auto c = std::make_shared<NetworkStatCollectorMac>();
    c->setup();
    for (auto _ : state) {
        c->updateInterfaces();
        c->updatePrimarySettings();
        benchmark::DoNotOptimize(c->networkStatus(nullptr));
    }
    state.counters["items"] = static_cast<double>(c->items().size());
    c->cleanup();
}
BENCHMARK(BM_NetworkRescan);

void BM_LinkDumpThisMachine(benchmark::State& state) {
    netstate::LinkDumpReader reader;
    std::vector<netstate::LinkInfo> links;
    for (auto _ : state) benchmark::DoNotOptimize(reader.read(links));
    state.counters["links"] = static_cast<double>(links.size());
}
BENCHMARK(BM_LinkDumpThisMachine);

}  // namespace
