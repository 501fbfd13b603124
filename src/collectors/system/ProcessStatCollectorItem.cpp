// A process record's totals, comparators, description and children.
#include "collectors/system/ProcessStatCollectorItem.h"

#include <algorithm>

#include "platform/values/Format.h"

namespace telvo {

namespace {

// [other compare: mine]: the larger value comes first.
int descending(double mine, double other) {
    if (other < mine) return ProcessStatCollectorItem::kOrderedAscending;
    if (other > mine) return ProcessStatCollectorItem::kOrderedDescending;
    return ProcessStatCollectorItem::kOrderedSame;
}

// As descending, but two idle records are ordered by their last activity.
int descendingThenRecent(double mine, double other, double myTime, double otherTime) {
    if (mine == 0 && other == 0) return descending(myTime, otherTime);
    return descending(mine, other);
}

template <class Own>
double withChildren(const ProcessStatCollectorItem& item, bool includeChildren, Own own) {
    double total = own(item);
    if (includeChildren)
        for (const auto& child : item.children())
            if (child) total += withChildren(*child, true, own);
    return total;
}

}  // namespace

double ProcessStatCollectorItem::totalCPUUsage(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.cpu_; });
}
double ProcessStatCollectorItem::totalMemoryUsage(bool includeChildren) const {
    // The newer memory value (the physical-footprint stand-in) is the only one kept here.
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.memory_; });
}
double ProcessStatCollectorItem::totalNetworkDownload(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.networkDownload_; });
}
double ProcessStatCollectorItem::totalNetworkUpload(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.networkUpload_; });
}
double ProcessStatCollectorItem::totalDiskRead(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.diskRead_; });
}
double ProcessStatCollectorItem::totalDiskWrite(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.diskWrite_; });
}
double ProcessStatCollectorItem::totalPowerUsage(bool includeChildren) const {
    return withChildren(*this, includeChildren, [](const ProcessStatCollectorItem& i) { return i.powerScore_; });
}

void ProcessStatCollectorItem::updateTotalCPUUsage(bool c) { sharingTotalCPU_ = totalCPUUsage(c); }
void ProcessStatCollectorItem::updateTotalMemoryUsage(bool c) { sharingTotalMemory_ = totalMemoryUsage(c); }
void ProcessStatCollectorItem::updateTotalNetworkUsage(bool c) {
    sharingTotalDownload_ = totalNetworkDownload(c);
    sharingTotalUpload_ = totalNetworkUpload(c);
}
void ProcessStatCollectorItem::updateTotalDiskUsage(bool c) {
    sharingTotalRead_ = totalDiskRead(c);
    sharingTotalWrite_ = totalDiskWrite(c);
}
void ProcessStatCollectorItem::updateTotalPowerUsage(bool c) { sharingTotalPower_ = totalPowerUsage(c); }

int ProcessStatCollectorItem::sortCPU(const ProcessStatCollectorItem& o) const {
    return descending(sharingTotalCPU_, o.sharingTotalCPU_);
}
int ProcessStatCollectorItem::sortMemory(const ProcessStatCollectorItem& o) const {
    return descending(sharingTotalMemory_, o.sharingTotalMemory_);
}
int ProcessStatCollectorItem::sortPower(const ProcessStatCollectorItem& o) const {
    return descending(sharingTotalPower_, o.sharingTotalPower_);
}
int ProcessStatCollectorItem::sortNetworkDownload(const ProcessStatCollectorItem& o) const {
    return descendingThenRecent(sharingTotalDownload_, o.sharingTotalDownload_, networkDownloadTime_,
                                o.networkDownloadTime_);
}
int ProcessStatCollectorItem::sortNetworkUpload(const ProcessStatCollectorItem& o) const {
    return descendingThenRecent(sharingTotalUpload_, o.sharingTotalUpload_, networkUploadTime_, o.networkUploadTime_);
}
int ProcessStatCollectorItem::sortDiskRead(const ProcessStatCollectorItem& o) const {
    return descendingThenRecent(sharingTotalRead_, o.sharingTotalRead_, diskReadTime_, o.diskReadTime_);
}
int ProcessStatCollectorItem::sortDiskWrite(const ProcessStatCollectorItem& o) const {
    return descendingThenRecent(sharingTotalWrite_, o.sharingTotalWrite_, diskWriteTime_, o.diskWriteTime_);
}

std::string ProcessStatCollectorItem::description() const {
    return format("pid = %i, name = %@, seq = %li, memory = %.0f, cpu = %.2f, rx = %.2f, tx = %.2f", pid_, name_,
                  static_cast<long>(sequence_), totalMemoryUsage(), totalCPUUsage(), totalNetworkDownload(),
                  totalNetworkUpload());
}

ProcessStatCollectorItemPtr ProcessStatCollectorItem::processForPid(int32_t pid) const {
    for (const auto& child : children_) {
        if (!child) continue;
        if (child->pid_ == pid) return child;
        if (auto found = child->processForPid(pid)) return found;
    }
    return nullptr;
}

int64_t ProcessStatCollectorItem::processCount() const {
    int64_t count = static_cast<int64_t>(children_.size());
    for (const auto& child : children_)
        if (child) count += child->processCount();
    return count;
}

void ProcessStatCollectorItem::invalidateProcesses() {
    for (const auto& child : children_) {
        if (!child) continue;
        child->exists_ = false;
        child->invalidateProcesses();
    }
}

void ProcessStatCollectorItem::removeMissingProcesses() {
    for (const auto& child : children_)
        if (child) child->removeMissingProcesses();
    auto gone = std::stable_partition(children_.begin(), children_.end(),
                                      [](const ProcessStatCollectorItemPtr& c) { return c && c->exists_; });
    for (auto it = gone; it != children_.end(); ++it)
        if (*it)
            for (const auto& grandchild : (*it)->children_)
                if (grandchild) grandchild->controllingPid_ = -1;
    children_.erase(gone, children_.end());
}

ProcessStatCollectorItem::PowerSample ProcessStatCollectorItem::powerHistory(size_t i) const {
    if (!powerHistory_ || i >= kPowerHistoryLength) return PowerSample{};
    return (*powerHistory_)[(powerHead_ + i) % kPowerHistoryLength];
}

}  // namespace telvo
