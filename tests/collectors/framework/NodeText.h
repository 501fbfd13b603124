#pragma once
// Test helper: the nodes of a statistics answer as reply XML, for comparison with the golden
// files in data/.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "collectors/framework/StatNode.h"
#include "collectors/framework/StatNodeXML.h"
#include "platform/xml/XmlDocument.h"

namespace telvo::fwtest {

// The nodes appended to a "tvx" document and serialised by the protocol's XML writer, with a
// line break put between elements for readable golden files.
inline std::string nodesText(const std::vector<StatNodePtr>& nodes) {
    xml::XmlDocument doc("tvx");
    appendStatNodes(nodes, doc.root());
    std::string text = doc.xmlString();
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '>' && i + 1 < text.size() && text[i + 1] == '<') out += '\n';
    }
    return out + "\n";
}

inline std::string readGolden(const std::string& name) {
    std::ifstream in(std::string(TELVO_TEST_DATA_DIR) + "/" + name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Writes the golden file when TELVO_UPDATE_GOLDEN is set; otherwise compares.
inline bool matchesGolden(const std::string& name, const std::string& text, std::string& golden) {
    if (std::getenv("TELVO_UPDATE_GOLDEN")) {
        std::ofstream(std::string(TELVO_TEST_DATA_DIR) + "/" + name) << text;
    }
    golden = readGolden(name);
    return golden == text;
}

}  // namespace telvo::fwtest
