#include "collectors/sensors/ServerInfoCollector.h"

#include "collectors/framework/SharedCollector.h"
#include "platforms/PlatformController.h"

namespace telvo {

std::shared_ptr<ServerInfoCollector> ServerInfoCollector::sharedServerInfoCollector() {
    return SharedCollector<ServerInfoCollector>::get([] { return std::make_shared<ServerInfoCollector>(); });
}

void ServerInfoCollector::resetForTesting() { SharedCollector<ServerInfoCollector>::drop(); }

ServerInfoCollector::ServerInfoCollector() : StatCollector(0) { config().set("xmlNoSamples", Value(true)); }

std::vector<StatNodePtr> ServerInfoCollector::xmlNodesFromAttributes(const Value&) {
    PlatformMacPtr platform = PlatformController::currentPlatform();
    StatNodePtr stat = StatNode::element("stat");
    stat->setAttribute("type", "serverinfo");
    StatNodePtr general = StatNode::element("s");
    general->setAttribute("type", "general");
    general->setAttribute("model", platform->identifier());
    general->setAttribute("name", platform->name());
    general->setAttribute("variation", platform->variationName().value_or(""));
    general->setAttribute("os", platform->osVersion());
    general->setAttribute("cpu", platform->cpu());
    general->setAttribute("memory", platform->memory());
    stat->addChild(general);
    for (const Value& slot : platform->memorySlotInfo().array()) {
        // The slot's own "dimm_type" would take the element's "type" too; the element keeps
        // "memoryslot", its one type.
        StatNodePtr s = StatNode::element("s");
        s->setAttribute("type", "memoryslot");
        s->setAttribute("name", slot["_name"].stringValue());
        s->setAttribute("size", slot["dimm_size"].stringValue());
        s->setAttribute("speed", slot["dimm_speed"].stringValue());
        stat->addChild(s);
    }
    return {stat};
}

std::vector<StatNodePtr> ServerInfoCollector::xmlRequestWithProtocol(int64_t protocol) {
    if (protocol == 1) return {};
    StatNodePtr stat = StatNode::element("stat");
    stat->setAttribute("type", "serverinfo");
    stat->setAttribute("samples", "0");
    return {stat};
}

}  // namespace telvo
