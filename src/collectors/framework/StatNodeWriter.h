#pragma once
// Writes a collector's answer (StatNode trees) straight into the bytes of a reply, with the
// same text the protocol's XML writer gives for the same elements (attributes in order,
// "&amp;", "&lt;", "&quot;" and control characters as character references, no
// self-closed elements), without building a document first.
#include <string>
#include <string_view>
#include <vector>

#include "collectors/framework/StatNode.h"

namespace telvo::statnodewriter {

// Appends the attribute value as the XML writer escapes it between double quotes (text after
// a NUL byte is not written, as for any C-string attribute).
void appendEscaped(std::string& out, std::string_view value);
// Appends an element or attribute name as the XML writer writes it (an empty one as
// ":anonymous"; text after a NUL byte is not written).
void appendName(std::string& out, const std::string& name);
// Appends the element with its attributes and children.
void appendNode(std::string& out, const StatNode& node);
// A whole reply document: declaration, root "tvx" of `type` and the nodes under it.
std::string document(long type, const std::vector<StatNodePtr>& nodes);

}  // namespace telvo::statnodewriter
