#pragma once
// What a collector's delegates may answer. Every operation is optional: a delegate says
// which ones it answers through the responds... queries, and only those are sent.
#include <cstdint>
#include <memory>

namespace telvo {

class StatCollector;
class StatCollectorItem;

class StatCollectorDelegate {
public:
    virtual ~StatCollectorDelegate() = default;

    // collector:updatedForMode: after a level advanced (and mode 0 from the finish block).
    virtual bool respondsToUpdatedForMode() const { return false; }
    virtual void collectorUpdatedForMode(StatCollector&, int64_t /*mode*/) {}
    // collector:shouldUpdateStateForSequence: a vote on whether a tick samples.
    virtual bool respondsToShouldUpdateStateForSequence() const { return false; }
    virtual bool collectorShouldUpdateStateForSequence(StatCollector&, int64_t /*sequence*/) { return false; }
    // collector:loadedValueForItem:
    virtual bool respondsToLoadedValueForItem() const { return false; }
    virtual void collectorLoadedValueForItem(StatCollector&, StatCollectorItem&) {}
    // collectorChildrenChanged: sent by concrete collectors after their item set changed.
    virtual bool respondsToChildrenChanged() const { return false; }
    virtual void collectorChildrenChanged(StatCollector&) {}
};

using StatCollectorDelegatePtr = std::shared_ptr<StatCollectorDelegate>;

}  // namespace telvo
