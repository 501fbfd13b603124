#include "collectors/storage/DiskStatCollectorItem.h"

#include <cstdio>

#include "foundation/extensions/XmlSafeText.h"

namespace telvo {

std::string DiskStatCollectorItem::stringForType() const {
    static const char* const words[] = {"physical", "zfs", "network", "disk image", "optical", "unknown"};
    return type >= 0 && type <= 5 ? words[type] : "";
}

Value DiskStatCollectorItem::xmlStorageItem() const {
    Value d{ValueDictionary{}};
    d.set("name", Value(xmlSafeText(name)));
    d.set("uuid", Value(key()));
    d.set("type", Value(std::to_string(type)));
    std::string last = bsd;
    while (last.size() > 1 && last.back() == '/') last.pop_back();
    if (size_t slash = last.rfind('/'); slash != std::string::npos && last.size() > 1) last = last.substr(slash + 1);
    d.set("bsd", Value(last));
    if (path == "/") d.set("boot", Value("1"));
    return d;
}

Value DiskStatCollectorItem::xmlSampleFromSample(const statsample& sample, int64_t level, int64_t protocol) const {
    Value d = StatCollectorItem::xmlSampleFromSample(sample, level, protocol);
    if (sample.values && sample.values[kPercentage] == 0 && sample.values[kSize] > 0) {
        char text[32];
        snprintf(text, sizeof text, "%.2f", sample.values[kUsed] / sample.values[kSize] * 100.0);
        d.set("p", Value(text));
    }
    return d;
}

void DiskStatCollectorItem::pushSample(double sampleID, double time) {
    statsample* ring = storageForType(0);
    if (!ring) return;
    PushSamples(ring, sampleValueCount());
    statsample& slot = ring[0];
    slot.values[kUsed] = storageUsed;
    slot.values[kFree] = storageFree;
    slot.values[kSize] = storageSize;
    slot.values[kPercentage] = storagePercentage;
    slot.sampleID = sampleID;
    slot.time = time;
    slot.empty = 0;
    slot.index = 0;
    setSampleID(sampleID, 0);
    setTime(time, 0);
}

std::string DiskStatCollectorItem::description() const {
    char text[128];
    snprintf(text, sizeof text, ", temporary = %d, type = %s, ejectable = %d, size = %.2f, used = %.2f", temporary(),
             stringForType().c_str(), ejectable, storageSize, storageUsed);
    return "name = " + name + ", uuid = " + key() + ", bsd = " + bsd + text;
}

}  // namespace telvo
