#pragma once
// Copies a collector's answer (StatNode trees) into a protocol XML document, under the
// element the client session chooses (the reply's root).
#include <vector>

#include "collectors/framework/StatNode.h"
#include "platform/xml/XmlElement.h"

namespace telvo {

// Appends the node, with its attributes in order and its children, as the last child of `parent`.
xml::XmlElement appendStatNode(const StatNode& node, xml::XmlElement parent);
// Appends every node in order.
void appendStatNodes(const std::vector<StatNodePtr>& nodes, xml::XmlElement parent);

}  // namespace telvo
