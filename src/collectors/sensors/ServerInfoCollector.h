#pragma once
// ServerInfoCollector: the machine described as one "serverinfo" stat element (model, name,
// release text, operating-system version, processor, memory, memory slots) from the platform
// registry. The daemon makes it at start and never starts or serves it.
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class ServerInfoCollector : public StatCollector {
public:
    static std::shared_ptr<ServerInfoCollector> sharedServerInfoCollector();
    static void resetForTesting();

    ServerInfoCollector();
    std::string statType() const override { return "serverinfo"; }
    double updateFrequencyForVersion(int64_t) const override { return 0.0; }
    // One stat element: an "s" of type "general", then one "s" of type "memoryslot" per slot.
    std::vector<StatNodePtr> xmlNodesFromAttributes(const Value& attributes) override;
    // The client's request: one stat of type "serverinfo" with samples "0"; none for protocol 1.
    static std::vector<StatNodePtr> xmlRequestWithProtocol(int64_t protocol);
};

}  // namespace telvo
