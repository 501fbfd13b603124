// The process lists in a statistics reply ("keys" names them, in order), and the client-side
// reading of received entries.
#include <array>
#include <cstdlib>
#include <string_view>

#include "collectors/system/ProcessStatCollector.h"

namespace telvo {

namespace {

// The lists a "keys" text can name, in the order of ProcessStatCollector::madeLists_.
constexpr std::array<std::string_view, 4> kListNames{"cpu", "memory", "network", "disks"};

}  // namespace

std::vector<StatNodePtr> ProcessStatCollector::xmlNodesFromAttributes(const Value& attributes) {
    // One reply names each list at most once per sample level, however many items and keys
    // ask for it: a request cannot make a reply larger than every list once.
    struct Replying {
        ProcessStatCollector& c;
        explicit Replying(ProcessStatCollector& collector) : c(collector) {
            c.replying_ = true;
            c.sentInReply_.clear();
        }
        ~Replying() {
            c.replying_ = false;
            c.sentInReply_.clear();
        }
    } replying(*this);
    return StatCollector::xmlNodesFromAttributes(attributes);
}

const ValueArray& ProcessStatCollector::madeList(size_t which) {
    const std::array<int8_t, 5> counts{sharingProcessCPUCount_, sharingProcessMemoryCount_, sharingProcessNetworkCount_,
                                       sharingProcessDiskActivityCount_, sharingProcessPowerCount_};
    // Lists made with child processes counted in (or by other counts) are not these.
    if (sharingUseHeirachy_ || counts != madeCounts_) {
        for (auto& made : madeLists_) made.reset();
        madeCounts_ = counts;
    }
    std::optional<ValueArray>& made = madeLists_[which];
    if (made) return *made;
    ValueArray out;
    auto append = [&out](const Value& list) {
        for (const Value& entry : list.array()) out.push_back(entry);
    };
    switch (which) {
        case 0:
            append(cpuProcesses(false)["processes"]);
            break;
        case 1:
            append(memoryProcesses(false)["processes"]);
            break;
        case 2: {
            const Value lists = networkProcesses2(false);
            append(lists["download"]);
            append(lists["upload"]);
            break;
        }
        default: {
            const Value lists = diskActivityProcesses2(false);
            append(lists["read"]);
            append(lists["write"]);
            break;
        }
    }
    made = std::move(out);
    return *made;
}

ValueArray ProcessStatCollector::xmlSampleItemsFromAttributes(const Value& attributes) {
    ValueArray out;
    if (!attributes.has("keys")) return out;
    const std::string keys = attributes["keys"].stringValue();
    const std::string level = attributes["index"].stringValue();
    // Split at every ","; no blanks are trimmed and a part matches exactly. A list named
    // again is not sent again, and parts that name no list add nothing.
    std::array<bool, kListNames.size()> named{};
    const std::string_view text(keys);
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string_view part = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        for (size_t which = 0; which < kListNames.size(); ++which) {
            if (part != kListNames[which] || named[which]) continue;
            named[which] = true;
            if (replying_ && !sentInReply_.insert(level + ":" + std::string(part)).second) break;
            const ValueArray& list = madeList(which);
            out.insert(out.end(), list.begin(), list.end());
            break;
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

StatNodePtr ProcessStatCollector::xmlRequestFromAttributes(const Value& attributes) const {
    if (selectionKey().empty()) return nullptr;
    StatNodePtr stat = StatNode::element("stat");
    stat->setAttribute("type", statType());
    stat->setAttribute("samples", attributes.has("samples") ? attributes["samples"].stringValue() : "0");
    // The selection key names the wanted lists, joined by "|"; a request names them by ",".
    std::string keys = selectionKey();
    for (char& c : keys)
        if (c == '|') c = ',';
    StatNodePtr item = StatNode::element("item");
    item->setAttribute("samples", "0");
    item->setAttribute("keys", keys);
    stat->addChild(item);
    return stat;
}

ProcessStatCollectorItemPtr ProcessStatCollector::xmlItemFromAttributes(const Value& entry) {
    if (!entry.has("key")) return nullptr;
    const int32_t pid = static_cast<int32_t>(std::atoi(entry["key"].stringValue().c_str()));
    ProcessStatCollectorItemPtr record = processForPid(pid);
    if (!record) record = createProcessWithPid(pid);
    record->setKey(entry["key"].stringValue());
    if (entry.has("name")) record->setName(entry["name"].stringValue());
    if (entry.has("c")) record->setCpu(entry["c"].doubleValue());
    if (entry.has("m")) record->setMemory(entry["m"].doubleValue());
    const double t = entry["t"].doubleValue();
    if (entry.has("r")) {
        record->setDiskRead(entry["r"].doubleValue());
        record->setDiskReadTime(t);
    }
    if (entry.has("w")) {
        record->setDiskWrite(entry["w"].doubleValue());
        record->setDiskWriteTime(t);
    }
    if (entry.has("u")) {
        record->setNetworkUpload(entry["u"].doubleValue());
        record->setNetworkUploadTime(t);
    }
    if (entry.has("d")) {
        record->setNetworkDownload(entry["d"].doubleValue());
        record->setNetworkDownloadTime(t);
    }
    record->setExists(true);
    return record;
}

void ProcessStatCollector::xmlMarkItemsAsMissing() {
    for (const auto& record : processes_) {
        record->setExists(false);
        record->setCpu(0);
        record->setMemory(0);
        record->setDiskRead(0);
        record->setDiskWrite(0);
        record->setNetworkDownload(0);
        record->setNetworkUpload(0);
        record->setDiskReadTime(0);
        record->setDiskWriteTime(0);
        record->setNetworkDownloadTime(0);
        record->setNetworkUploadTime(0);
    }
}

}  // namespace telvo
