#include "collectors/sensors/GPUStatCollector.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <set>

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"
#include "collectors/framework/SharedCollector.h"
#include "foundation/KXRVersions.h"
#include "foundation/extensions/StringMD5.h"
#include "platform/registry/Registry.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"
#include "platforms/PlatformController.h"

namespace telvo {

using namespace configmaps;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool isDisplay(const registry::Entry& e) {
    const Value& name = e.property("IOName");
    return (name.isNull() ? e.name() : GPUStatCollectorMac::convertString(name).stringValue()) == "display";
}

double parentDeviceID(const registry::Entry& e) {
    registry::EntryRef p = e.parent();
    if (p) p = p->parent();
    return p ? GPUStatCollectorMac::convertValue(p->property("device-id")) : 0;
}

double memoryOf(const registry::Entry& e) {
    double total = GPUStatCollectorMac::convertValue(e.property("VRAM,totalMB")) * 1024 * 1024;
    if (total == 0) total = GPUStatCollectorMac::convertValue(e.property("VRAM,totalsize"));
    if (total == 0) total = GPUStatCollectorMac::convertValue(e.property("VRAM,memsize"));
    return total;
}

}  // namespace

GPUStatCollector::GPUStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("gpu");
    setStorageType(2);
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"processor", 1}, {"memory", 0}}));
    c.set("sampleKeys", indexMap({{"processor", 1}, {"memory", 0}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"uuid", "processor", "memory"});
    const std::string columns = "processor double NOT NULL DEFAULT 0, memory double NOT NULL DEFAULT 0";
    c.set("sqlCreate", Value(historytables::itemTable(columns)));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("sqlCreateLong", Value(historytables::longItemTable(columns, false)));
    c.set("sqlCreateIDLong", Value(historytables::sampleTable("", false)));
}

StatCollector::ItemFactory GPUStatCollector::itemClass() const {
    return [] { return std::make_shared<GPUStatCollectorItem>(); };
}

std::shared_ptr<GPUStatCollectorMac> GPUStatCollectorMac::sharedGPUCollector() {
    return SharedCollector<GPUStatCollectorMac>::get([] { return std::make_shared<GPUStatCollectorMac>(); });
}

void GPUStatCollectorMac::cleanupShared() { SharedCollector<GPUStatCollectorMac>::drop(); }

double GPUStatCollectorMac::convertValue(const Value& value) {
    double v = 0;
    if (value.isData()) {
        if (value.bytes().size() < 4) return 0;
        int32_t raw;
        std::memcpy(&raw, value.bytes().data(), 4);
        v = raw;
    } else if (value.isString() || value.isNumber()) {
        v = value.doubleValue();
    }
    return std::fabs(v);
}

Value GPUStatCollectorMac::convertString(const Value& value) {
    if (!value.isData()) return value;
    std::string text;
    for (uint8_t b : value.bytes()) {
        if (b == 0) break;
        text += b < 0x80 ? char(b) : '?';
    }
    return Value(text);
}

double GPUStatCollectorMac::convertCFNumber(const Value& value) {
    if (value.isNull()) return 0;
    if (value.isInteger()) return double(uint64_t(value.intValue()));
    return value.doubleValue();
}

void GPUStatCollectorMac::fetchGPUS() {
    auto registry = registry::Registry::shared();
    if (!registry) return;
    std::vector<registry::EntryRef> devices;
    for (const auto& e : registry->matchingServices(registry::Registry::serviceMatching("IOPCIDevice")))
        if (isDisplay(*e)) devices.push_back(e);

    bool duplicate = false;
    std::set<std::string> ids;
    for (const auto& d : devices) {
        const double id = parentDeviceID(*d);
        if (id > 0 && !ids.insert(format("%.0f", id)).second) {
            duplicate = true;
            break;
        }
    }
    const bool hideIntel = PlatformController::currentPlatform()->hideIntergratedGraphics();
    bool first = true;
    for (const auto& d : devices) {
        std::string key;
        if (duplicate) {
            const Value& slot = d->property("AAPL,slot-name");
            if (!slot.isNull()) key = convertString(slot).stringValue();
            else key = MD5(convertString(d->property("attached-gpu-control-path")).stringValue());
        } else if (parentDeviceID(*d) > 0) {
            key = format("%.0f", parentDeviceID(*d));
        }
        const std::string model = convertString(d->property("model")).stringValue();
        if (key.empty()) key = model;
        key.erase(std::remove_if(key.begin(), key.end(), [](unsigned char c) { return !std::isalnum(c); }), key.end());
        if (hideIntel && lower(model).find("intel") != std::string::npos) continue;
        auto item = std::dynamic_pointer_cast<GPUStatCollectorItem>(itemWithKey(key));
        if (!item) item = std::dynamic_pointer_cast<GPUStatCollectorItem>(newItemWithKey(key));
        if (!item) continue;
        item->registryEntry = d;
        item->intergrated = first && d->hasProperty("built-in");
        first = false;
        item->model = model.empty() ? "GPU" : model;
        double total = memoryOf(*d);
        for (const auto& child : d->children()) {
            if (total == 0) total = memoryOf(*child);
            if (child->hasProperty("PerformanceStatistics")) {
                item->registryEntryStats = child;
                break;
            }
        }
        item->totalyMemory = total;
    }
    bool anyIntel = false;
    for (const auto& i : items())
        anyIntel = anyIntel || lower(std::static_pointer_cast<GPUStatCollectorItem>(i)->model).find("intel") != std::string::npos;
    if (anyIntel)
        for (const auto& i : items()) {
            auto gpu = std::static_pointer_cast<GPUStatCollectorItem>(i);
            gpu->intergrated = lower(gpu->model).find("intel") != std::string::npos;
        }
    updateActiveGPU();
}

void GPUStatCollectorMac::updateActiveGPU() {
    for (const auto& i : items()) std::static_pointer_cast<GPUStatCollectorItem>(i)->connected = true;
}

bool GPUStatCollectorMac::shouldUpdateStateForSequence(int64_t sequence) {
    if (enabled()) return StatCollector::shouldUpdateStateForSequence(sequence);
    return sequence % 6 == 0;
}

void GPUStatCollectorMac::updateStats() {
    fps_ = 0;
    updateGPUS();
    for (const auto& d : delegates())
        if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

void GPUStatCollectorMac::updateGPUS() {
    const double now = platform::Clock::now();
    const double sampleID = sampleIndex(0).sampleID;
    for (const auto& i : items()) {
        auto gpu = std::static_pointer_cast<GPUStatCollectorItem>(i);
        gpu->setExists(true);
        const registry::EntryRef stats = gpu->registryEntryStats;
        if (gpu->totalyMemory == 0 && stats) {
            double total = convertValue(stats->property("VRAM,totalMB")) * 1024 * 1024;
            if (total == 0) total = convertValue(stats->property("VRAM,totalsize"));
            if (total > 0) gpu->totalyMemory = total;
        }
        const registry::EntryRef source = stats ? stats : gpu->registryEntry;
        gpu->surfaceCount = source ? int64_t(source->property("SurfaceList").count()) : 0;
        double used = 0, freeBytes = 0, processorUse = -1;
        const Value perf = source ? source->property("PerformanceStatistics") : Value();
        if (perf.isDictionary()) {
            used = convertCFNumber(perf["vramUsedBytes"]);
            freeBytes = convertCFNumber(perf["vramFreeBytes"]);
            const double total = gpu->totalyMemory;
            if (gpu->intergrated) {
                const double gartFree = convertCFNumber(perf["gartFreeBytes"]);
                const double gartUsed = convertCFNumber(perf["gartUsedBytes"]);
                if (perf.has("gartSizeBytes") && convertCFNumber(perf["gartSizeBytes"]) == total) {
                    freeBytes = gartFree;
                    used = gartUsed;
                }
                if (gartFree != 0 && gartUsed != 0 && gartFree + gartUsed == total) {
                    freeBytes = gartFree;
                    used = gartUsed;
                }
                if (gartUsed != 0 && freeBytes > total) {
                    freeBytes = total - gartUsed;
                    used = gartUsed;
                }
            }
            if (perf.has("GPU Core Utilization")) processorUse = convertCFNumber(perf["GPU Core Utilization"]) / 10000000.0;
            else if (perf.has("Device Utilization %")) processorUse = convertCFNumber(perf["Device Utilization %"]);
            if (KXRVersions::sharedVersions().isElCapitan() && convertCFNumber(perf["inUseVidMemoryBytes"]) > 0) {
                used = convertCFNumber(perf["inUseVidMemoryBytes"]);
                freeBytes = total - used;
            }
        }
        gpu->usedMemory = used;
        gpu->freeMemory = freeBytes;
        gpu->processor = processorUse;
        if (processorUse >= 0) gpu->hasProcessorUsage = true;
        double memory = -1;
        const double total = gpu->totalyMemory;
        if (total > 0) {
            if (used > 0 && freeBytes == 0) gpu->freeMemory = freeBytes = total - used;
            if (freeBytes > 0 && used == 0) gpu->usedMemory = used = total - freeBytes;
            if (used > 0) memory = used / total;
        }
        double processorValue = gpu->processor;
        if (!gpu->connected) memory = processorValue = -1;
        if (!gpu->hasProcessorUsage) processorValue = -1;
        gpu->addSampleWithProcessor(processorValue, memory, now, sampleID);
    }
    if (statsample* ring = storageForType(0)) {
        PushSamples(ring, sampleValueCount());
        ring[0].sampleID = sampleID;
        ring[0].time = now;
        ring[0].empty = 0;
    }
}

std::shared_ptr<GPUStatCollectorItem> GPUStatCollectorMac::activeGPU() const {
    for (const auto& i : items())
        if (auto g = std::static_pointer_cast<GPUStatCollectorItem>(i); g->connected) return g;
    return nullptr;
}

std::shared_ptr<GPUStatCollectorItem> GPUStatCollectorMac::intergratedGPU() const {
    for (const auto& i : items())
        if (auto g = std::static_pointer_cast<GPUStatCollectorItem>(i); g->intergrated) return g;
    return nullptr;
}

std::shared_ptr<GPUStatCollectorItem> GPUStatCollectorMac::discreteGPU() const {
    for (const auto& i : items())
        if (auto g = std::static_pointer_cast<GPUStatCollectorItem>(i); !g->intergrated) return g;
    return nullptr;
}

}  // namespace telvo
