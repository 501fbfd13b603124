// The process lists: the busiest processes by CPU, memory, disk reads and writes, network
// download and upload, and power, each the first records of the table sorted by its key.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "collectors/framework/XMLNumberFormat.h"
#include "collectors/system/ProcessStatCollector.h"
#include "foundation/extensions/XmlSafeText.h"

namespace telvo {

namespace {

using Item = ProcessStatCollectorItem;

// A rate or a time as plain decimal text, never in exponent form ("1500", "0.25"); a value
// that is not a number is "0".
Value decimal(double v) {
    if (!std::isfinite(v)) return Value("0");
    char text[400];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
    if (ec != std::errc()) return Value("0");
    return Value(std::string(text, end));
}

void replaceAll(std::string& s, const std::string& what) {
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at)) s.erase(at, what.size());
}

}  // namespace

std::vector<ProcessStatCollectorItemPtr>& ProcessStatCollector::sharingStorage(bool hierarchy) {
    return hierarchy ? hierachy_ : processes_;
}

std::string ProcessStatCollector::sharingNameForProcess(const ProcessStatCollectorItem& process) const {
    if (!process.isSafariWebContent() || process.safariURLS().empty()) return process.name();
    std::string joined;
    for (const auto& url : process.safariURLS()) {
        if (!joined.empty()) joined += ", ";
        joined += url;
    }
    for (const char* prefix : {"https://", "http://", "www."}) replaceAll(joined, prefix);
    return xmlSafeText(joined);
}

template <class Compare, class Entry>
ValueArray ProcessStatCollector::rankedList(std::vector<ProcessStatCollectorItemPtr>& records, Compare compare,
                                            int limit, bool hierarchy, Entry entry) {
    // A stable sort: records with equal keys keep the order of the previous sort.
    std::stable_sort(records.begin(), records.end(), [&](const ProcessStatCollectorItemPtr& a,
                                                         const ProcessStatCollectorItemPtr& b) {
        return (a.get()->*compare)(*b) == Item::kOrderedAscending;
    });
    ValueArray out;
    // The limit is compared after each entry; a limit of 0 (or below) lists nothing.
    if (limit <= 0) return out;
    for (const auto& record : records) {
        record->setSharingUseHierachy(hierarchy);
        ValueDictionary d{{"key", Value(xmlnumber::integer(record->pid()))},
                          {"name", Value(sharingNameForProcess(*record))}};
        entry(*record, d);
        out.push_back(Value(std::move(d)));
        if (static_cast<int>(out.size()) >= limit) break;
    }
    return out;
}

Value ProcessStatCollector::cpuProcesses(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalCPUUsage(hierarchy);
    ValueArray list = rankedList(records, &Item::sortCPU, sharingProcessCPUCount_, hierarchy,
                                 [&](const Item& r, ValueDictionary& d) {
                                     d["c"] = Value(xmlnumber::value(r.totalCPUUsage(hierarchy)));
                                 });
    return Value(ValueDictionary{{"processes", Value(std::move(list))}, {"type", Value("1")}});
}

Value ProcessStatCollector::memoryProcesses(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalMemoryUsage(hierarchy);
    ValueArray list = rankedList(records, &Item::sortMemory, sharingProcessMemoryCount_, hierarchy,
                                 [&](const Item& r, ValueDictionary& d) {
                                     d["m"] = Value(xmlnumber::whole(r.totalMemoryUsage(hierarchy)));
                                 });
    return Value(ValueDictionary{{"processes", Value(std::move(list))}, {"type", Value("2")}});
}

Value ProcessStatCollector::diskActivityProcesses2(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalDiskUsage(hierarchy);
    ValueArray reads = rankedList(records, &Item::sortDiskRead, sharingProcessDiskActivityCount_, hierarchy,
                                  [&](const Item& r, ValueDictionary& d) {
                                      d["r"] = decimal(r.totalDiskRead(hierarchy));
                                      d["t"] = decimal(r.diskReadTime());
                                  });
    ValueArray writes = rankedList(records, &Item::sortDiskWrite, sharingProcessDiskActivityCount_, hierarchy,
                                   [&](const Item& r, ValueDictionary& d) {
                                       d["w"] = decimal(r.totalDiskWrite(hierarchy));
                                       d["t"] = decimal(r.diskWriteTime());
                                   });
    return Value(ValueDictionary{{"read", Value(std::move(reads))}, {"write", Value(std::move(writes))}, {"type", Value("4")}});
}

Value ProcessStatCollector::networkProcesses2(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalNetworkUsage(hierarchy);
    ValueArray downloads = rankedList(records, &Item::sortNetworkDownload, sharingProcessNetworkCount_, hierarchy,
                                      [&](const Item& r, ValueDictionary& d) {
                                          d["d"] = decimal(r.totalNetworkDownload(hierarchy));
                                          d["t"] = decimal(r.networkDownloadTime());
                                      });
    ValueArray uploads = rankedList(records, &Item::sortNetworkUpload, sharingProcessNetworkCount_, hierarchy,
                                    [&](const Item& r, ValueDictionary& d) {
                                        d["u"] = decimal(r.totalNetworkUpload(hierarchy));
                                        d["t"] = decimal(r.networkUploadTime());
                                    });
    return Value(ValueDictionary{
        {"download", Value(std::move(downloads))}, {"upload", Value(std::move(uploads))}, {"type", Value("8")}});
}

Value ProcessStatCollector::powerProcesses(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalPowerUsage(hierarchy);
    ValueArray list = rankedList(records, &Item::sortPower, sharingProcessPowerCount_, hierarchy,
                                 [&](const Item& r, ValueDictionary& d) {
                                     d["score"] = Value(xmlnumber::value(r.totalPowerUsage(hierarchy)));
                                     d["bundle"] = Value(xmlSafeText(r.bundleLocation()));
                                 });
    return Value(ValueDictionary{{"processes", Value(std::move(list))}, {"type", Value("16")}});
}

Value ProcessStatCollector::diskActivityProcesses(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalDiskUsage(hierarchy);
    ValueArray list = rankedList(records, &Item::sortDiskRead, sharingProcessDiskActivityCount_, hierarchy,
                                 [&](const Item& r, ValueDictionary& d) {
                                     d["r"] = decimal(r.totalDiskRead(hierarchy));
                                     d["w"] = decimal(r.totalDiskWrite(hierarchy));
                                 });
    return Value(ValueDictionary{{"processes", Value(std::move(list))}, {"type", Value("4")}});
}

Value ProcessStatCollector::networkProcesses(bool hierarchy) {
    sharingUseHeirachy_ = hierarchy;
    auto& records = sharingStorage(hierarchy);
    for (const auto& r : records) r->updateTotalNetworkUsage(hierarchy);
    ValueArray list = rankedList(records, &Item::sortNetworkDownload, sharingProcessNetworkCount_, hierarchy,
                                 [&](const Item& r, ValueDictionary& d) {
                                     d["d"] = decimal(r.totalNetworkDownload(hierarchy));
                                     d["u"] = decimal(r.totalNetworkUpload(hierarchy));
                                 });
    return Value(ValueDictionary{{"processes", Value(std::move(list))}, {"type", Value("8")}});
}

}  // namespace telvo
