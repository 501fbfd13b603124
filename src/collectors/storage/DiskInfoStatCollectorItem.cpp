#include "collectors/storage/DiskInfoStatCollectorItem.h"

#include "foundation/extensions/XmlSafeText.h"

namespace telvo {

Value DiskInfoStatCollectorItem::xmlSamplesFromAttributes(const Value&) const {
    Value out{ValueDictionary{}};
    std::string partitions;
    std::string raid;
    for (const Value& p : info_["partitions"].array()) {
        if (!partitions.empty()) partitions += ",";
        partitions += p["bsd"].stringValue();
        if (p.has("RAIDBsd")) raid = p["RAIDBsd"].stringValue();
    }
    out.set("partitions", Value(partitions));
    if (!raid.empty()) out.set("raid", Value(raid));
    out.set("key", info_["bsd"]);
    for (const char* k : {"name", "model", "serial", "type"})
        if (info_.has(k)) out.set(k, Value(xmlSafeText(info_[k].stringValue())));
    out.set("uuid", Value(key()));
    return out;
}

std::string DiskInfoStatCollectorItem::description() const {
    return "name = " + name_ + ", key = " + key() + ", serial = " + info_["serial"].stringValue() +
           ", type = " + info_["type"].stringValue();
}

}  // namespace telvo
