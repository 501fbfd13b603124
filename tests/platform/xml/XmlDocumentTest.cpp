#include <gtest/gtest.h>

#include "platform/xml/XmlDocument.h"

using telvo::ErrorPtr;
using telvo::xml::XmlDocument;
using telvo::xml::XmlElement;

TEST(XmlDocument, SerialisationGoldenStrings) {
    XmlDocument empty("tvx");
    empty.root().setAttribute("type", "103");
    EXPECT_EQ(empty.xmlString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"></tvx>");

    XmlDocument reply("tvx");
    XmlElement root = reply.root();
    root.setAttribute("type", "104");
    XmlElement stat = root.addChild("stat");
    // Attributes keep the order they were added in; setting one again keeps its place.
    stat.setAttribute("type", "cpu");
    stat.setAttribute("interval", "0");
    stat.setAttribute("id", "7");
    stat.setAttribute("session", "1");
    stat.setAttribute("interval", "1");
    XmlElement s = stat.addChild("s");
    s.setAttribute("u", "");
    s.setAttribute("name", "a<b & \"c\" 'd' >");
    root.addChild("note").setText("x < y & z");
    EXPECT_EQ(reply.xmlString(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\">"
              "<stat type=\"cpu\" interval=\"1\" id=\"7\" session=\"1\">"
              "<s u=\"\" name=\"a&lt;b &amp; &quot;c&quot; 'd' >\"></s></stat>"
              "<note>x &lt; y &amp; z</note></tvx>");
    EXPECT_EQ(stat.xmlString(),
              "<stat type=\"cpu\" interval=\"1\" id=\"7\" session=\"1\">"
              "<s u=\"\" name=\"a&lt;b &amp; &quot;c&quot; 'd' >\"></s></stat>");

    XmlDocument none;
    EXPECT_EQ(none.xmlString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
}

TEST(XmlDocument, ParsesExactlyTheByteRange) {
    const std::string stream =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tvx type=\"103\"><stat type=\"cpu\" samples=\"1|2\">"
        "<i samples=\"3\" keys=\"a,b\"/></stat><other/><stat type=\"load\"/></tvx><tvx type=\"100\"></tvx>";
    const size_t end = stream.find("</tvx>") + 6;
    ErrorPtr error;
    auto doc = XmlDocument::parse(stream.data(), end, &error);
    ASSERT_TRUE(doc) << error->description();
    XmlElement root = doc->root();
    EXPECT_EQ(root.name(), "tvx");
    EXPECT_EQ(root.attribute("type"), "103");
    EXPECT_TRUE(root.hasAttribute("type"));
    EXPECT_FALSE(root.hasAttribute("missing"));
    EXPECT_EQ(root.attribute("missing"), "");
    ASSERT_EQ(root.children().size(), 3u);
    auto stats = root.children("stat");
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].attribute("samples"), "1|2");
    EXPECT_EQ(stats[1].attribute("type"), "load");
    ASSERT_EQ(stats[0].children().size(), 1u);
    EXPECT_EQ(stats[0].children()[0].attribute("keys"), "a,b");
    EXPECT_EQ(stats[0].children()[0].parent(), stats[0]);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"type", "cpu"}, {"samples", "1|2"}}),
              stats[0].attributes());
    // Serialising the parsed document again uses our declaration and no self-closing tags.
    EXPECT_EQ(doc->xmlString(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"><stat type=\"cpu\" samples=\"1|2\">"
              "<i samples=\"3\" keys=\"a,b\"></i></stat><other></other><stat type=\"load\"></stat></tvx>");

    // The whole stream holds two roots and does not parse as one document.
    EXPECT_FALSE(XmlDocument::parse(stream, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "XmlDocument");
}

TEST(XmlDocument, DecodesPredefinedEntitiesOnlyAndLoadsNothing) {
    ErrorPtr error;
    auto doc = XmlDocument::parse(std::string("<tvx type=\"101\" name=\"Tom &amp;amp; Jerry &lt;3 &#233;&#x41;\">"
                                              "t&gt;<![CDATA[<raw>]]></tvx>"),
                                  &error);
    ASSERT_TRUE(doc);
    // Decoded once; the second round belongs to whoever reads the name.
    EXPECT_EQ(doc->root().attribute("name"), "Tom &amp; Jerry <3 \xC3\xA9" "A");
    EXPECT_EQ(doc->root().text(), "t><raw>");

    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE tvx [<!ENTITY lol \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
        laughs += "\">";
    }
    laughs += "]><tvx type=\"101\" name=\"&lol9;\">&lol9;</tvx>";
    doc = XmlDocument::parse(laughs, &error);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().attribute("name"), "&lol9;");
    EXPECT_EQ(doc->root().text(), "&lol9;");

    doc = XmlDocument::parse(std::string("<!DOCTYPE tvx [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
                                         "<tvx type=\"101\" name=\"&x;\">&x;</tvx>"),
                             &error);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().attribute("name"), "&x;");
    EXPECT_EQ(doc->root().text(), "&x;");
    // The DOCTYPE is not carried into output.
    EXPECT_EQ(doc->xmlString().find("DOCTYPE"), std::string::npos);
}

TEST(XmlDocument, BadInputAndNullElements) {
    const char* bad[] = {"", "<tvx", "<tvx type=\"1></tvx>", "<a></b>", "text only", "<a></a><b></b>"};
    for (const char* text : bad) {
        ErrorPtr error;
        EXPECT_FALSE(XmlDocument::parse(std::string(text), &error)) << text;
        EXPECT_TRUE(error) << text;
    }
    EXPECT_FALSE(XmlDocument::parse(nullptr, 0));
    XmlElement null;
    EXPECT_TRUE(null.isNull());
    EXPECT_EQ(null.name(), "");
    EXPECT_EQ(null.attribute("x"), "");
    EXPECT_TRUE(null.children().empty());
    EXPECT_TRUE(null.addChild("x").isNull());
    EXPECT_TRUE(null.child("x").isNull());
    EXPECT_EQ(null.xmlString(), "");
    null.setAttribute("a", "b");  // no effect, no crash

    XmlDocument doc("tvx");
    EXPECT_TRUE(doc.root().child("missing").isNull());
    EXPECT_TRUE(doc.root().parent().isNull());
    XmlElement replaced = doc.setRoot("other");
    EXPECT_EQ(doc.root(), replaced);
    EXPECT_EQ(doc.xmlString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><other></other>");
    replaced.setText("x");
    replaced.setText("y");
    replaced.removeAttribute("none");
    EXPECT_EQ(replaced.text(), "y");
}
