// The network collector: one tick with eight interfaces (the rates, the primary counters and
// the bandwidth buckets from one link list) and one full configuration rescan of eight
// services, on a fixture store and fixture links so the figures do not depend on this
// machine's interfaces; and one real link dump of this machine's namespace.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <net/if.h>
#include <sys/socket.h>

#include "NetworkBenchLinks.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/netstate/LinkDumpReader.h"
#include "platform/netstate/NetworkKeys.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

// Eight up Ethernet links, each with an IPv4 and a link-local IPv6 address, the first the
// primary with the default route.
struct EightInterfaces : bench::FixtureNetwork {
    EightInterfaces() {
        netstate::NetworkDumps d;
        for (int i = 1; i <= 8; ++i) {
            const netstate::LinkInfo l = bench::upEthernetLink(i + 1, "eth" + std::to_string(i), {2, 0, 0, 0, 0, uint8_t(i)});
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

// 20 live interfaces, and 1000 more names that came and went over a simulated day (one every
// 86.4 s, each live for a few seconds), as on a container host; then the cost of one tick and
// the heap the collector holds for them.
struct ChurnedInterfaces : bench::FixtureNetwork {
    netstate::NetworkDumps dumps;

    void add(int index, const std::string& name) {
        links->push_back(bench::upEthernetLink(index, name, {2, 0, 0, 0, uint8_t(index >> 8), uint8_t(index)}));
        netstate::InterfaceAddress a;
        a.interfaceIndex = index;
        a.family = AF_INET;
        a.address = "10." + std::to_string(index / 250) + "." + std::to_string(index % 250) + ".2";
        a.prefixLength = 24;
        dumps.addresses.push_back(a);
    }
    void remove(int index) {
        std::erase_if(*links, [&](const netstate::LinkInfo& l) { return l.index == index; });
        std::erase_if(dumps.addresses, [&](const netstate::InterfaceAddress& a) { return a.interfaceIndex == index; });
    }
    void publish() {
        dumps.links = *links;
        ValueDictionary keys = netstate::buildNetworkKeys(dumps);
        for (const auto& [k, v] : store->snapshot())
            if (!keys.count(k)) store->removeValue(k);
        for (const auto& [k, v] : keys) store->setValue(k, v);
    }
    ChurnedInterfaces() {
        platform::Clock::useVirtual(1700000000.5);
        for (int i = 1; i <= 20; ++i) add(i + 1, "eth" + std::to_string(i));
        netstate::Ipv4Route r;
        r.interfaceIndex = 2;
        r.gateway = "10.0.2.1";
        r.type = 1;
        dumps.routes.push_back(r);
        publish();
    }
    ~ChurnedInterfaces() { platform::Clock::useReal(); }
};

double heapInUse() {
    struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

void tickOnce(NetworkStatCollectorMac& c, uint64_t n, std::vector<netstate::LinkInfo>& links) {
    for (auto& l : links) {
        l.rxBytes = n * 1500;
        l.txBytes = n * 700;
    }
    c.sampleIndexRecord(0)->sampleID += 1;
    c.updateStats();
}

void BM_NetworkTickAfterADayOf1000Names(benchmark::State& state) {
    ChurnedInterfaces net;
    const double heapBefore = heapInUse();
    auto c = std::make_shared<NetworkStatCollectorMac>();
    c->setup();
    c->setBandwidthMonitoringEnabled(true);
    uint64_t n = 0;
    tickOnce(*c, n++, *net.links);
    const double heapLive = heapInUse();
    for (int name = 0; name < 1000; ++name) {
        const int index = 100 + name;
        net.add(index, "veth" + std::to_string(name));
        net.publish();
        c->updateInterfaces();
        for (int s = 0; s < 3; ++s) {
            platform::Clock::advance(1.0);
            tickOnce(*c, n++, *net.links);
        }
        net.remove(index);
        net.publish();
        c->updateInterfaces();
        platform::Clock::advance(86.4 - 3);
        tickOnce(*c, n++, *net.links);
    }
    for (auto _ : state) {
        tickOnce(*c, n++, *net.links);
        benchmark::DoNotOptimize(c->storageForType(0)[0].values[0]);
    }
    state.counters["items"] = static_cast<double>(c->items().size());
    state.counters["buckets"] = static_cast<double>(c->bandwidthItems().size());
    state.counters["heap_20_live_KiB"] = (heapLive - heapBefore) / 1024;
    state.counters["heap_after_day_KiB"] = (heapInUse() - heapBefore) / 1024;
    c->cleanup();
}
BENCHMARK(BM_NetworkTickAfterADayOf1000Names);

void BM_LinkDumpThisMachine(benchmark::State& state) {
    netstate::LinkDumpReader reader;
    std::vector<netstate::LinkInfo> links;
    for (auto _ : state) benchmark::DoNotOptimize(reader.read(links));
    state.counters["links"] = static_cast<double>(links.size());
}
BENCHMARK(BM_LinkDumpThisMachine);

}  // namespace
