// The sensors collector's configuration and its lookup by key or alternate key.
#include "collectors/sensors/SensorsStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"

namespace telvo {

using namespace configmaps;

SensorsStatCollector::SensorsStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("sensor");
    setStorageType(2);
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"v", 0}, {"value", 0}, {"s", 0}, {"p", 1}, {"percentage", 1}}));
    c.set("sampleKeys", indexMap({{"value", 0}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    c.set("xmlSampleKeys", indexMap({{"v", 0}, {"p", 1}}));
    c.set("xmlRequestIndividualItems", Value(true));
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"value", "uuid", "type"});
    c.set("sqlCreate",
          Value(historytables::itemTable("value double NOT NULL DEFAULT 0, type integer NOT NULL DEFAULT 0")));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("itemAttributeKeys", names({"uuid", "n"}));
}

StatCollector::ItemFactory SensorsStatCollector::itemClass() const {
    return [] { return std::make_shared<SensorStatCollectorItem>(); };
}

std::shared_ptr<SensorStatCollectorItem> SensorsStatCollector::sensorWithKey(const std::string& key) {
    if (auto item = itemWithKey(key)) return std::dynamic_pointer_cast<SensorStatCollectorItem>(item);
    for (const auto& item : items())
        if (item && !item->alternateKey().empty() && item->alternateKey() == key)
            return std::dynamic_pointer_cast<SensorStatCollectorItem>(item);
    return nullptr;
}

}  // namespace telvo
