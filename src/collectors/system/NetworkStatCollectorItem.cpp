// Rates from counters, and the item's wire form.
#include "collectors/system/NetworkStatCollectorItem.h"

#include <cmath>

#include "collectors/framework/XMLNumberFormat.h"
#include "foundation/extensions/XmlSafeText.h"
#include "platform/time/Clock.h"

namespace telvo {

void NetworkStatCollectorItem::addSampleWithDownload(double received, double sent, double time, double identifier) {
    statsample* ring = storageForType(0);
    if (!ring) return;
    const double previousReceived = ring[0].values[NetworkStatCollector::kReceived];
    const double previousSent = ring[0].values[NetworkStatCollector::kSent];
    double now = platform::Clock::now();
    if (lastTime == 0) lastTime = now;
    const double dt = now - lastTime;
    lastTime = now;
    double down = 0, up = 0;
    if (dt > 0) {
        down = (received - previousReceived) / dt;
        up = (sent - previousSent) / dt;
    }
    if (std::isnan(down) || down < 0 || previousReceived == 0) down = 0;
    if (std::isnan(up) || up < 0 || previousSent == 0) up = 0;
    if (down > peakDownload) peakDownload = down;
    if (up > peakUpload) peakUpload = up;
    PushSamples(ring, sampleValueCount());
    statsample& s = ring[0];
    s.values[NetworkStatCollector::kDownload] = down;
    s.values[NetworkStatCollector::kUpload] = up;
    s.values[NetworkStatCollector::kReceived] = received;
    s.values[NetworkStatCollector::kSent] = sent;
    s.sampleID = identifier;
    s.time = time;
    s.empty = 0;
}

std::string NetworkStatCollectorItem::ipAddress() const {
    if (!ipv4.empty()) return ipv4.front();
    if (!ipv6.empty()) return ipv6.front();
    return "";
}

double NetworkStatCollectorItem::totalDownload() const {
    statsample* ring = storageForType(0);
    return ring ? ring[0].values[NetworkStatCollector::kReceived] : 0;
}

double NetworkStatCollectorItem::totalUpload() const {
    statsample* ring = storageForType(0);
    return ring ? ring[0].values[NetworkStatCollector::kSent] : 0;
}

std::string NetworkStatCollectorItem::description() const {
    return "bsd = " + bsd + ", uuid = " + key() + ", name = " + name + ", status = " +
           std::to_string(connectionstatus) + ", hardware = " + hardware;
}

Value NetworkStatCollectorItem::xmlStorageItem() const {
    Value d(ValueDictionary{});
    d.set("name", Value(xmlSafeText(name)));
    d.set("uuid", Value(key()));
    if (!mac.empty()) d.set("mac", Value(mac));
    if (!bsd.empty()) d.set("bsd", Value(xmlSafeText(bsd)));
    std::string ip;
    for (const auto* list : {&ipv4, &ipv6})
        for (const auto& a : *list) {
            if (!ip.empty()) ip += ",";
            ip += a;
        }
    d.set("ip", Value(ip));
    return d;
}

Value NetworkStatCollectorItem::xmlSamplesFromAttributes(const Value& attributes) const {
    Value d = xmlDefaultSamplesFromAttributes(attributes);
    d.set("d", Value(xmlnumber::whole(totalDownload())));
    d.set("u", Value(xmlnumber::whole(totalUpload())));
    return d;
}

Value NetworkStatCollectorItem::xmlSampleFromSample(const statsample& sample, int64_t level, int64_t protocol) const {
    Value d = StatCollectorItem::xmlSampleFromSample(sample, level, protocol);
    if (level == 0 && protocol == 2) {
        d.set("d", Value(xmlnumber::value(sample.values[NetworkStatCollector::kReceived])));
        d.set("u", Value(xmlnumber::value(sample.values[NetworkStatCollector::kSent])));
    }
    return d;
}

}  // namespace telvo
