#include "daemon/ClientProtocol.h"

#include <gtest/gtest.h>


using namespace telvo;
using namespace telvo::protocol;

TEST(ClientProtocolTest, AnswersEndWithTheClosingTagAndKeepAttributeOrder) {
    auto document = documentWithType(103);
    EXPECT_EQ(serialize(*document), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"></tvx>");
    auto hello = documentWithType(100);
    hello->root().setAttribute("protocol", "3");
    EXPECT_EQ(serialize(*hello), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"100\" protocol=\"3\"></tvx>");
}

TEST(ClientProtocolTest, ReplyHeader) {
    EXPECT_EQ(replyHeader(1234, false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"105\" length=\"1234\"></tvx>");
    EXPECT_EQ(replyHeader(0, true),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"105\" length=\"0\" c=\"1\"></tvx>");
}

TEST(ClientProtocolTest, TypeAndAttributesOfClientMessages) {
    struct Case {
        const char* text;
        bool parses;
        int64_t type;
    } cases[] = {
        {"<tvx type=\"100\" compression=\"yes\" protocol=\"3\"></tvx>", true, 100},
        {"<other type=\" 101\"></other>", true, 101},  // the root's name is not checked
        {"<tvx type=\"abc\"></tvx>", true, 0},
        {"<tvx></tvx>", true, 0},
        {"<tvx type=\"104\"></tvx>", true, 104},
        {"<tvx type=\"100\"", false, 0},
        {"not xml</tvx>", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        Message message;
        EXPECT_EQ(parseMessage(c.text, message), c.parses) << c.text;
        if (c.parses) {
            EXPECT_EQ(message.type, c.type) << c.text;
        }
    }
}

TEST(ClientProtocolTest, EntitiesOfAnInternalSubsetAreNotExpanded) {
    Message message;
    ASSERT_TRUE(parseMessage("<!DOCTYPE tvx [<!ENTITY y \"yyyyyyyyyy\">]><tvx type=\"101\" name=\"&y;&amp;amp;\"></tvx>", message));
    EXPECT_EQ(message.attributes["name"].stringValue(), "&y;&amp;");
    EXPECT_EQ(decodeEntities(message.attributes["name"].stringValue()), "&y;&");
}

TEST(ClientProtocolTest, DecodeEntitiesReplacesOnceInOrder) {
    EXPECT_EQ(decodeEntities("Tom &amp; Jerry"), "Tom & Jerry");
    EXPECT_EQ(decodeEntities("&lt;a&gt; &apos;b&apos; &quot;c&quot;"), "<a> 'b' \"c\"");
    EXPECT_EQ(decodeEntities("&amp;lt;"), "<");  // "&amp;" first, then the "&lt;" it made
    EXPECT_EQ(decodeEntities(""), "");
}

TEST(ClientProtocolTest, StatRequestAttributesPerCollector) {
    Message message;
    ASSERT_TRUE(parseMessage(
        "<tvx type=\"103\">"
        "<stat type=\"cpu\" samples=\"0|0\" partial=\"\"/>"
        "<stat samples=\"1\"/>"
        "<other type=\"memory\"/>"
        "<stat type=\"disks\" key=\"disk1\" session=\"4\"><i samples=\"5\" keys=\"a,b\"/>text<i/></stat>"
        "<stat type=\"processes\"><i keys=\"cpu,network\"/><i keys=\"memory\"/></stat>"
        "<stat type=\"cpu\" samples=\"9\"/>"
        "</tvx>",
        message));
    std::vector<std::string> processKeys;
    Value tree = statTreeFromRequest(message.root, [&](const std::string& k) { processKeys.push_back(k); });

    EXPECT_EQ(tree.count(), 3u);
    EXPECT_FALSE(tree.has("memory"));
    // The later cpu stat replaces the earlier one.
    EXPECT_EQ(tree["cpu"]["samples"].stringValue(), "9");
    EXPECT_FALSE(tree["cpu"].has("partial"));
    const Value& disks = tree["disks"];
    EXPECT_EQ(disks["key"].stringValue(), "disk1");
    EXPECT_EQ(disks["session"].stringValue(), "4");
    EXPECT_FALSE(disks.has("samples"));
    ASSERT_EQ(disks["items"].count(), 2u);
    EXPECT_EQ(disks["items"].at(0)["samples"].stringValue(), "5");
    EXPECT_EQ(disks["items"].at(0)["keys"].stringValue(), "a,b");
    EXPECT_FALSE(disks["items"].at(1).has("samples"));
    EXPECT_EQ(processKeys, (std::vector<std::string>{"cpu,network", "memory"}));

    Message partial;
    ASSERT_TRUE(parseMessage("<tvx type=\"103\"><stat type=\"load\" partial=\"\"/></tvx>", partial));
    EXPECT_TRUE(statTreeFromRequest(partial.root, nullptr)["load"]["partial"].boolValue());
}

TEST(ClientProtocolTest, StatNodesBecomeElementsOfTheReply) {
    auto document = documentWithType(104);
    auto stat = StatNode::element("stat");
    stat->setAttribute("type", "cpu");
    auto sample = StatNode::element("s");
    sample->setAttribute("u", "1.50");
    stat->addChild(sample);
    appendStatNode(document->root(), *stat);
    std::string xml = serialize(*document);
    EXPECT_EQ(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"><stat type=\"cpu\"><s u=\"1.50\"></s></stat></tvx>");
}
