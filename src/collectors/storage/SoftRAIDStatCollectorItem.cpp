#include "collectors/storage/SoftRAIDStatCollectorItem.h"

namespace telvo {

Value SoftRAIDStatCollectorItem::xmlSamplesFromAttributes(const Value&) const {
    std::string joined;
    for (const std::string& m : members) joined += (joined.empty() ? "" : ",") + m;
    Value d(ValueDictionary{});
    d.set("members", Value(joined));
    d.set("key", Value(key()));
    if (!bsd.empty()) d.set("bsd", Value(bsd));
    if (!name.empty()) d.set("name", Value(name));
    d.set("uuid", Value(key()));
    return d;
}

}  // namespace telvo
