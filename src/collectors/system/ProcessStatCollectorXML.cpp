// The process lists in a statistics reply ("keys" names them, in order), and the client-side
// reading of received entries.
#include <array>
#include <cstdlib>

#include "collectors/system/ProcessStatCollector.h"

namespace telvo {

namespace {

void append(ValueArray& out, const Value& list) {
    for (const Value& entry : list.array()) out.push_back(entry);
}

}  // namespace

ValueArray ProcessStatCollector::xmlSampleItemsFromAttributes(const Value& attributes) {
    ValueArray out;
    if (!attributes.has("keys")) return out;
    const std::string keys = attributes["keys"].stringValue();
    const std::array<int8_t, 5> counts{sharingProcessCPUCount_, sharingProcessMemoryCount_, sharingProcessNetworkCount_,
                                       sharingProcessDiskActivityCount_, sharingProcessPowerCount_};
    if (auto made = listsMade_.find(keys); made != listsMade_.end() && made->second.counts == counts && !sharingUseHeirachy_)
        return made->second.lists;
    // Split at every ","; no blanks are trimmed and a part matches exactly.
    size_t start = 0;
    while (true) {
        const size_t comma = keys.find(',', start);
        const std::string part = keys.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part == "cpu") {
            append(out, cpuProcesses(false)["processes"]);
        } else if (part == "memory") {
            append(out, memoryProcesses(false)["processes"]);
        } else if (part == "network") {
            const Value lists = networkProcesses2(false);
            append(out, lists["download"]);
            append(out, lists["upload"]);
        } else if (part == "disks") {
            const Value lists = diskActivityProcesses2(false);
            append(out, lists["read"]);
            append(out, lists["write"]);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    listsMade_[keys] = MadeLists{counts, out};
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
