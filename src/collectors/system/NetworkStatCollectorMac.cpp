// The network collector's instance and its per-second counter reading.
#include "collectors/system/NetworkStatCollectorMac.h"

#include <net/if.h>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/system/LiveSample.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
std::mutex gReaderMutex;
NetworkStatCollectorMac::LinkReader gReaderForTesting;
}  // namespace

std::shared_ptr<NetworkStatCollectorMac> NetworkStatCollectorMac::sharedNetworkCollector() {
    return SharedCollector<NetworkStatCollectorMac>::get([] {
        auto c = std::make_shared<NetworkStatCollectorMac>();
        c->setup();
        return c;
    });
}

void NetworkStatCollectorMac::cleanupShared() { SharedCollector<NetworkStatCollectorMac>::drop(); }

void NetworkStatCollectorMac::resetForTesting() {
    cleanupShared();
    setLinkReaderForTesting(nullptr);
}

void NetworkStatCollectorMac::setLinkReaderForTesting(LinkReader reader) {
    std::lock_guard<std::mutex> lock(gReaderMutex);
    gReaderForTesting = std::move(reader);
}

NetworkStatCollectorMac::NetworkStatCollectorMac() {
    {
        std::lock_guard<std::mutex> lock(gReaderMutex);
        linkReader_ = gReaderForTesting;
    }
    if (!linkReader_) {
        auto reader = std::make_shared<netstate::LinkDumpReader>();
        linkReader_ = [reader](std::vector<netstate::LinkInfo>& out) { return reader->read(out); };
    }
    setSession(0);
    primaryInterfaceSettings_ = Value(ValueDictionary{{"addresses", Value(ValueArray{})}});
}

void NetworkStatCollectorMac::setup() {
    setupSession();
    updateInterfaces();
    updatePrimarySettings();
    nextBandwidthUpdateTime_ = std::ceil(platform::Clock::now() / 600.0) * 600.0;
}

void NetworkStatCollectorMac::cleanup() {
    if (dynStore_) dynStore_->invalidate();
    dynStore_.reset();
    StatCollector::cleanup();
}

void NetworkStatCollectorMac::updateStats() {
    // 1. One dump of every link with its counters; without it the tick takes no sample.
    const bool read = linkReader_(links_);
    if (read == lastReadFailed_) {
        frameworklog::log(read ? "network: interface counters readable again" : "network: cannot read the interface counters");
        lastReadFailed_ = !read;
    }
    if (!read) return;

    // 2. The tick's time.
    const double now = platform::Clock::now();
    const double sampleID = sampleIndex(0).sampleID;
    const std::string primary = primaryInterface();
    uint64_t primaryReceived = 0, primarySent = 0;
    std::vector<bool> sampled(items().size(), false);

    // Identifiers the bandwidth file's queue found for new interfaces since the last tick.
    if (bandwidthMonitoringEnabled()) takeIdentifiers();
    // 3./4. Up, non-loopback interfaces.
    for (const auto& link : links_) {
        if (!(link.flags & IFF_UP) || (link.flags & IFF_LOOPBACK) || !link.hasStats) continue;
        const double received = static_cast<double>(link.rxBytes), sent = static_cast<double>(link.txBytes);
        for (size_t i = 0; i < items().size(); ++i) {
            auto* item = static_cast<NetworkStatCollectorItem*>(items()[i].get());
            if (!item || item->bsd != link.name) continue;
            item->addSampleWithDownload(received, sent, now, sampleID);
            sampled[i] = true;
        }
        if (link.name == primary) {
            primaryReceived += link.rxBytes;
            primarySent += link.txBytes;
        }
        if (bandwidthMonitoringEnabled()) updateBandwidth(link.name, received, sent, now);
    }
    // 5. Bandwidth period end.
    if (bandwidthMonitoringEnabled() && now > nextBandwidthUpdateTime_) closeBandwidthPeriod(now);
    // 6. Items whose interface is down, absent or loopback.
    for (size_t i = 0; i < items().size(); ++i) {
        if (sampled[i] || !items()[i]) continue;
        static_cast<NetworkStatCollectorItem*>(items()[i].get())->addSampleWithDownload(0, 0, now, sampleID);
    }
    // 7. The collector's own ring: the primary interface's counters, at the tick's time.
    statsample& slot = livesample::push(*this);
    slot.values[kDownload] = static_cast<double>(primaryReceived);
    slot.values[kUpload] = static_cast<double>(primarySent);
    slot.values[kReceived] = 0;
    slot.values[kSent] = 0;
    slot.time = now;
    // 8. Delegates.
    livesample::finish(*this);
    // Interfaces gone for longer than the expiry leave nothing behind in memory.
    removeItemsAbsentFor(kGoneExpiry);
}

void NetworkStatCollectorMac::wallClockStepped(double step) {
    StatCollector::wallClockStepped(step);
    const double now = platform::Clock::now();
    for (const auto& i : items()) {
        auto* item = static_cast<NetworkStatCollectorItem*>(i.get());
        if (item && item->lastTime != 0) item->lastTime += step;
    }
    // The open buckets keep the instant they started at, told in the new time, and end at the
    // next multiple of 600 s of the new time: no row spans the step, none ends before it starts.
    if (nextBandwidthUpdateTime_ != 0) nextBandwidthUpdateTime_ = std::ceil(now / 600.0) * 600.0;
    for (auto& [name, bucket] : bandwidthItems()) {
        bucket.start = std::min(bucket.start + step, now);
        if (bucket.lastUpdate != 0) bucket.lastUpdate += step;
        bucket.end = nextBandwidthUpdateTime_;
    }
}

}  // namespace telvo
