#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

using telvo::Bytes;
using telvo::Date;
using telvo::ErrorPtr;
using telvo::Value;
using telvo::ValueArray;
using telvo::ValueDictionary;
namespace plist = telvo::plist;

namespace {

Value everyType() {
    Bytes bytes;
    for (int i = 0; i < 200; ++i) bytes.push_back(uint8_t(i * 7));
    return Value(ValueDictionary{
        {"bool yes", true},
        {"bool no", false},
        {"integer", 5110},
        {"negative", -42},
        {"big", int64_t(9007199254740993LL)},
        {"real", 3.03},
        {"tiny", 1e-300},
        {"text", "a < b && c > d \"quoted\" 'single'"},
        {"unicode", "Grüße, 日本, emoji \xF0\x9F\x98\x80"},
        {"control", "tab\tline\nreturn\r\x01"},
        {"blanks", "   "},
        {"empty", ""},
        {"data", Value(bytes)},
        {"empty data", Value(Bytes{})},
        {"date", Value(Date{1700000000})},
        {"list", ValueArray{1, "two", ValueArray{}, ValueDictionary{}, ValueArray{3.5}}},
        {"nested", ValueDictionary{{"authorized devices", ValueArray{"uuid-1", "uuid-2"}}}},
        {"<&key>", "odd key"},
    });
}

}  // namespace

TEST(PropertyList, RoundTripOfEveryType) {
    const Value original = everyType();
    const std::string text = plist::serialize(original);
    ErrorPtr error;
    const Value back = plist::parse(text, &error);
    ASSERT_FALSE(error) << error->description();
    EXPECT_EQ(back, original) << text;
    // Types survive, not only values.
    EXPECT_TRUE(back["integer"].isInteger());
    EXPECT_TRUE(back["real"].isDouble());
    EXPECT_TRUE(back["bool yes"].isBoolean());
    EXPECT_TRUE(back["date"].isDate());
    EXPECT_TRUE(back["data"].isData());
    EXPECT_EQ(back["blanks"].string(), "   ");
    EXPECT_EQ(back["control"].string(), "tab\tline\nreturn\r\x01");
}

TEST(PropertyList, SerialisedLayout) {
    Value v(ValueDictionary{{"port", 5109}, {"name", "A&B"}, {"list", ValueArray{true}}, {"none", Value()},
                            {"d", Value::data("hello")}, {"when", Value(Date{0.9})}});
    EXPECT_EQ(plist::serialize(v),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>d</key>\n"
              "\t<data>\n"
              "\taGVsbG8=\n"
              "\t</data>\n"
              "\t<key>list</key>\n"
              "\t<array>\n"
              "\t\t<true/>\n"
              "\t</array>\n"
              "\t<key>name</key>\n"
              "\t<string>A&amp;B</string>\n"
              "\t<key>port</key>\n"
              "\t<integer>5109</integer>\n"
              "\t<key>when</key>\n"
              "\t<date>1970-01-01T00:00:00Z</date>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(PropertyList, ReadsWhatOtherWritersProduce) {
    const char* text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><dict>\n"
        "  <!-- a comment -->\n"
        "  <key>Label</key><string>com.kestro.telvoserverdaemon</string>\n"
        "  <key>hex</key><integer> 0x1F </integer>\n"
        "  <key>plus</key><real>+2.5e1</real>\n"
        "  <key>inf</key><real>-infinity</real>\n"
        "  <key>frac</key><date>2023-11-14T22:13:20.25Z</date>\n"
        "  <key>cdata</key><string>x<![CDATA[<&>]]>y &#233;&#x41;</string>\n"
        "  <key>wrapped</key><data>\n   aGVs\n   bG8=\n  </data>\n"
        "  <key>dup</key><integer>1</integer><key>dup</key><integer>2</integer>\n"
        "</dict></plist>";
    ErrorPtr error;
    Value v = plist::parse(text, &error);
    ASSERT_FALSE(error) << error->description();
    EXPECT_EQ(v["Label"].string(), "com.kestro.telvoserverdaemon");
    EXPECT_EQ(v["hex"].intValue(), 31);
    EXPECT_EQ(v["plus"].doubleValue(), 25.0);
    EXPECT_TRUE(std::isinf(v["inf"].doubleValue()) && v["inf"].doubleValue() < 0);
    EXPECT_DOUBLE_EQ(v["frac"].date().seconds, 1700000000.25);
    EXPECT_EQ(v["cdata"].string(), "x<&>y \xC3\xA9" "A");
    EXPECT_EQ(v["wrapped"].bytes(), (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(v["dup"].intValue(), 2);
    // A bare value without the plist wrapper, and an empty plist.
    EXPECT_EQ(plist::parse("<array><string>x</string></array>"), Value(ValueArray{"x"}));
    error.reset();
    EXPECT_TRUE(plist::parse("<plist version=\"1.0\"/>", &error).isNull());
    EXPECT_FALSE(error);
}

TEST(PropertyList, DamagedListsAreRefused) {
    const char* cases[] = {
        "",
        "not xml",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>a</string><string>b</string></dict></plist>",
        "<plist><integer>12abc</integer></plist>",
        "<plist><integer></integer></plist>",
        "<plist><integer>99999999999999999999999</integer></plist>",
        "<plist><real>fast</real></plist>",
        "<plist><real>1e999</real></plist>",
        "<plist><data>@@@@</data></plist>",
        "<plist><data>aGVs=bG8=</data></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><date>2023-13-01T00:00:00Z</date></plist>",
        "<plist><date>2023-11-14T22:13:20</date></plist>",
        "<plist><set/></plist>",
        "<plist><string>a</string><string>b</string></plist>",
        "<plist><dict><key>a</key><string>unclosed</dict></plist>",
    };
    for (const char* text : cases) {
        ErrorPtr error;
        Value v = plist::parse(text, &error);
        EXPECT_TRUE(v.isNull()) << text;
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->domain, "NSCocoaErrorDomain");
        EXPECT_EQ(error->code, 3840);
    }
    // Hostile nesting is refused rather than recursed into without bound.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<array>";
    for (int i = 0; i < 100000; ++i) deep += "</array>";
    ErrorPtr error;
    EXPECT_TRUE(plist::parse("<plist>" + deep + "</plist>", &error).isNull());
    EXPECT_TRUE(error);
}

TEST(PropertyList, EntityDeclarationsAreRefusedWithoutExpansion) {
    std::string laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n  <!ENTITY lol \"lol\">\n";
    laughs += "  <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        laughs += "  <!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<plist version=\"1.0\"><string>&lol9;</string></plist>";
    const std::string external =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n"
        "<plist version=\"1.0\"><dict><key>k</key><string>&xxe;</string></dict></plist>";
    for (const std::string& text : {laughs, external}) {
        ErrorPtr error;
        Value v = plist::parse(text, &error);
        EXPECT_TRUE(v.isNull());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 3840);
    }
    // An entity reference without any declaration is not expanded either: it stays text.
    Value v = plist::parse("<plist><string>&xxe;</string></plist>");
    EXPECT_EQ(v.string(), "&xxe;");
}

TEST(PropertyList, FilesUnderTheRoot) {
    char pattern[] = "/tmp/telvo-plist-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    telvo::fs::setRootForTesting(folder);
    ASSERT_TRUE(telvo::fs::createDirectories("/Library/Preferences"));
    const std::string path = "/Library/Preferences/com.kestro.telvoserverbackend.plist";
    ErrorPtr error;
    ASSERT_TRUE(plist::writeFile(everyType(), path, &error));
    EXPECT_TRUE(std::filesystem::exists(folder + path));
    EXPECT_EQ(plist::readFile(path, &error), everyType());
    EXPECT_FALSE(error);

    EXPECT_TRUE(plist::readFile("/Library/Preferences/missing.plist", &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error->code, ENOENT);
    error.reset();
    EXPECT_FALSE(plist::writeFile(Value(1), "/no/such/folder/x.plist", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ENOENT);

    telvo::fs::setRootForTesting("");
    std::filesystem::remove_all(folder);
}
