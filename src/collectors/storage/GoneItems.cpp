// Dropping the items a disk-set scan did not see, and telling the delegates.
#include "collectors/storage/GoneItems.h"

#include <algorithm>
#include <vector>

#include "collectors/framework/StatCollector.h"

namespace telvo::storage {

void dropGoneItems(StatCollector& collector) {
    auto& list = collector.mutableItems();
    const size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(), [](const StatCollectorItemPtr& i) { return !i->exists(); }),
               list.end());
    if (list.size() != before) collector.setChildrenChanged(true);
    if (collector.childrenChanged()) {
        for (const auto& d : std::vector<StatCollectorDelegatePtr>(collector.delegates()))
            if (d->respondsToChildrenChanged()) d->collectorChildrenChanged(collector);
    }
}

}  // namespace telvo::storage
