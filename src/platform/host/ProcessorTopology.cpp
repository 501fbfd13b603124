// Processor counts and the physical-core grouping from /sys/devices/system/cpu.
#include "platform/host/ProcessorTopology.h"

#include <map>
#include <string>
#include <utility>

#include "platform/host/ProcFile.h"

namespace telvo::host {

namespace {
bool readNumber(const std::string& path, std::string& buffer, long long& value) {
    if (!readProcFile(path, buffer)) return false;
    std::string_view t(buffer);
    skipBlanks(t);
    bool negative = !t.empty() && t[0] == '-';
    if (negative) t.remove_prefix(1);
    uint64_t v = 0;
    if (!parseUnsigned(t, v)) return false;
    value = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}

bool collect(int cpu, void* context) {
    static_cast<std::vector<int>*>(context)->push_back(cpu);
    return true;
}
}  // namespace

ProcessorTopology readProcessorTopology() {
    ProcessorTopology topology;
    std::string buffer;
    CPUList list;
    if (readProcFile("/sys/devices/system/cpu/possible", buffer) && parseCPUList(buffer, list))
        topology.configured = list.highest + 1;

    std::vector<int> online;
    if (!readProcFile("/sys/devices/system/cpu/online", buffer) || !parseCPUList(buffer, list, collect, &online))
        return topology;
    topology.logical = list.count;

    std::map<std::pair<long long, long long>, size_t> coreIndex;
    for (int cpu : online) {
        const std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        long long package = 0, core = 0;
        if (!readNumber(base + "physical_package_id", buffer, package) || !readNumber(base + "core_id", buffer, core)) {
            topology.cores.clear();
            return topology;
        }
        auto [it, added] = coreIndex.emplace(std::make_pair(package, core), topology.cores.size());
        if (added) topology.cores.emplace_back();
        topology.cores[it->second].push_back(cpu);
    }
    topology.physical = static_cast<int>(topology.cores.size());
    return topology;
}

}  // namespace telvo::host
