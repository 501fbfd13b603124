#include "collectors/framework/StatNodeXML.h"

#include "collectors/framework/SampleRun.h"

namespace telvo {

xml::XmlElement appendStatNode(const StatNode& node, xml::XmlElement parent) {
    if (parent.isNull()) return parent;
    xml::XmlElement element = parent.addChild(node.name);
    for (const auto& [key, value] : node.attributes) element.setAttribute(key, value);
    for (const auto& child : node.children)
        if (child) appendStatNode(*child, element);
    if (node.samples)
        for (const auto& s : node.samples->nodes()) appendStatNode(*s, element);
    return element;
}

void appendStatNodes(const std::vector<StatNodePtr>& nodes, xml::XmlElement parent) {
    for (const auto& node : nodes)
        if (node) appendStatNode(*node, parent);
}

}  // namespace telvo
