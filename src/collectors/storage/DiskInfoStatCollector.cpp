#include "collectors/storage/DiskInfoStatCollector.h"

#include "platform/time/Clock.h"

namespace telvo {

DiskInfoStatCollector::DiskInfoStatCollector() : StatCollector(0) {
    setStorageType(2);
    setSession(static_cast<int64_t>(platform::Clock::now()));
    Value& c = config();
    c.set("itemAttributeKeys", Value(ValueArray{Value("key")}));
    c.set("xmlNoSamples", Value(true));
    c.set("xmlSessionBased", Value(true));
}

Value DiskInfoStatCollector::infoForBSD(const std::string& bsd) const {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    for (const Value& r : records_)
        if (r["bsd"].stringValue() == bsd) return r;
    return Value();
}

Value DiskInfoStatCollector::physicalDiskForBSD(const std::string& bsd) const {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    for (const Value& r : records_) {
        if (r["bsd"].stringValue() == bsd) return r;
        for (const Value& p : r["partitions"].array())
            if (p["bsd"].stringValue() == bsd) return r;
    }
    return Value();
}

Value DiskInfoStatCollector::sizeForDiskWithBSD(const std::string& bsd) const {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    for (const Value& r : records_) {
        if (r["bsd"].stringValue() == bsd) return r["size"];
        for (const Value& p : r["partitions"].array())
            if (p["bsd"].stringValue() == bsd) return p["size"];
    }
    return Value();
}

std::vector<Value> DiskInfoStatCollector::records() const {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    return records_;
}

void DiskInfoStatCollector::setRecords(std::vector<Value> records) {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    records_ = std::move(records);
}

void DiskInfoStatCollector::applyRecords(const std::vector<Value>& records) {
    for (const auto& item : items()) item->setExists(false);
    for (const Value& r : records) {
        const std::string key = r["bsd"].stringValue();
        StatCollectorItemPtr item = itemWithKey(key);
        if (!item) item = newItemWithKey(key);
        auto disk = std::dynamic_pointer_cast<DiskInfoStatCollectorItem>(item);
        if (!disk) continue;
        disk->setExists(true);
        disk->setInfo(r);
        disk->setName(r["name"].stringValue());
        disk->setSession(session());
    }
    std::erase_if(mutableItems(), [](const StatCollectorItemPtr& i) { return !i->exists(); });
    for (const auto& d : delegates())
        if (d && d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

}  // namespace telvo
