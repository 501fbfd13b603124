#pragma once
// How many processors the machine has and how they pair into physical cores, read from
// /sys/devices/system/cpu: "possible" (every processor the kernel can bring up, the size
// of per-processor arrays), "online" (the logical processors now running) and each online
// processor's topology/physical_package_id and topology/core_id (processors sharing both
// are hardware threads of one physical core).
#include <vector>

namespace telvo::host {

struct ProcessorTopology {
    // Highest possible processor number + 1; 0 when unknown.
    int configured = 0;
    // Online logical processors; 0 when unknown.
    int logical = 0;
    // Distinct physical cores among the online processors; 0 when unknown (a processor
    // without topology files makes the whole count unknown).
    int physical = 0;
    // The processor numbers of each physical core, cores in order of their first processor.
    std::vector<std::vector<int>> cores;
};

// Reads the topology now; fields it cannot read stay 0 (empty).
ProcessorTopology readProcessorTopology();

}  // namespace telvo::host
