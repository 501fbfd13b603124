#include "collectors/storage/DiskActivityStatCollectorItem.h"

#include <cmath>
#include <cstdio>

#include "platform/time/Clock.h"

namespace telvo {

double DiskActivityStatCollectorItem::diskActivityValue(double now, double before) {
    if (now == 0 || before == 0) return 0;
    const double d = now - before;
    return std::isnan(d) || d < 0 ? 0 : d;
}

void DiskActivityStatCollectorItem::updateWithTime(double time, double identifier) {
    if (!wrapper) return;
    Value stats = wrapper->registryEntry ? wrapper->registryEntry->property("Statistics") : Value();
    if (!stats.isDictionary()) return addSample(0, 0, 0, 0, time, identifier);
    addSample(stats["Bytes (Read)"].doubleValue(), stats["Bytes (Write)"].doubleValue(),
              stats["Operations (Read)"].doubleValue(), stats["Operations (Write)"].doubleValue(), time, identifier);
}

void DiskActivityStatCollectorItem::addSample(double readBytes, double writeBytes, double readOps, double writeOps,
                                              double time, double identifier) {
    statsample* ring = storageForType(0);
    if (!ring) return;
    readTotal = readBytes;
    writeTotal = writeBytes;
    const double* previous = ring[0].values;
    const double counters[4] = {readBytes, writeBytes, readOps, writeOps};
    double differences[4];
    for (int i = 0; i < 4; ++i) differences[i] = diskActivityValue(counters[i], previous[4 + i]);

    const double now = platform::Clock::now();
    if (lastTime == 0) lastTime = now;
    const double elapsed = now - lastTime;
    lastTime = now;
    double rates[4] = {0, 0, 0, 0};
    if (elapsed > 0) {
        for (int i = 0; i < 4; ++i) {
            rates[i] = differences[i] / elapsed;
            if (std::isnan(rates[i]) || rates[i] < 0) rates[i] = 0;
        }
    }
    read = rates[0];
    write = rates[1];
    readIOPS = rates[2];
    writeIOPS = rates[3];

    PushSamples(ring, sampleValueCount());
    statsample& slot = ring[0];
    for (int i = 0; i < 4; ++i) {
        slot.values[i] = rates[i];
        slot.values[4 + i] = counters[i];
    }
    slot.sampleID = identifier;
    slot.time = time;
    slot.empty = 0;
    slot.index = 0;
    setSampleID(identifier, 0);
    setTime(time, 0);
}

Value DiskActivityStatCollectorItem::xmlStorageItem() const {
    Value d{ValueDictionary{}};
    d.set("uuid", Value(key()));
    d.set("bsd", Value(bsd));
    const statsample newest = sampleAtIndex(0, 0);
    char text[64];
    snprintf(text, sizeof text, "%.0f", newest.values ? newest.values[4] : 0.0);
    d.set("r", Value(text));
    snprintf(text, sizeof text, "%.0f", newest.values ? newest.values[5] : 0.0);
    d.set("w", Value(text));
    if (!name.empty()) d.set("n", Value(name));
    return d;
}

std::string DiskActivityStatCollectorItem::description() const {
    return "key = " + key() + ", serial = " + serial + ", bsd = " + bsd + ", name = " + name +
           " temporary = " + std::to_string(temporary() ? 1 : 0);
}

}  // namespace telvo
