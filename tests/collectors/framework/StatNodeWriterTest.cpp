// The direct reply writer against the protocol's XML writer: the same bytes for every byte
// value in attributes, for nested item and a elements, and for whole reply documents.
#include <gtest/gtest.h>

#include "collectors/framework/StatNodeWriter.h"
#include "collectors/framework/StatNodeXML.h"
#include "platform/xml/XmlDocument.h"

using namespace telvo;

namespace {

std::string viaDocument(long type, const std::vector<StatNodePtr>& nodes) {
    xml::XmlDocument doc("tvx");
    doc.root().setAttribute("type", std::to_string(type));
    appendStatNodes(nodes, doc.root());
    return doc.xmlString();
}

TEST(StatNodeWriterTest, EveryByteOfAnAttributeValueIsEscapedAsTheXmlWriterDoesIt) {
    std::vector<StatNodePtr> nodes;
    for (int c = 1; c < 256; ++c) {
        auto s = StatNode::element("s");
        s->setAttribute("v", std::string("a") + char(c) + "b" + char(c));
        nodes.push_back(s);
    }
    EXPECT_EQ(statnodewriter::document(104, nodes), viaDocument(104, nodes));
}

TEST(StatNodeWriterTest, NestedAnswersAndOddTextMatchTheXmlWriter) {
    auto stat = StatNode::element("stat");
    stat->setAttribute("type", "disks");
    stat->setAttribute("interval", "0");
    auto item = StatNode::element("item");
    item->setAttribute("name", "Mac \"HD\" & <backup> 'old'\t\r\n");
    item->setAttribute("uuid", std::string("before\0after", 12));  // text after a NUL is not written
    item->setAttribute("utf8", "caf\xc3\xa9 \xe2\x82\xac \xff\xfe");  // invalid UTF-8 passes as it is
    item->setAttribute("", "anonymous");
    item->setAttribute("empty", "");
    auto a = StatNode::element("a");
    a->setAttribute("samples", "0");
    item->addChild(a);
    auto s = StatNode::element("s");
    s->setAttribute("r", "1.00");
    item->addChild(s);
    item->addChild(nullptr);
    stat->addChild(item);
    stat->addChild(StatNode::element(""));
    std::vector<StatNodePtr> nodes = {stat, nullptr, StatNode::element("stat")};
    EXPECT_EQ(statnodewriter::document(104, nodes), viaDocument(104, nodes));
    EXPECT_EQ(statnodewriter::document(104, {}), viaDocument(104, {}));
    EXPECT_EQ(statnodewriter::document(104, {}), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"></tvx>");
}

}  // namespace
