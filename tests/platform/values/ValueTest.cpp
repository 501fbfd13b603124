#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>
#include <type_traits>

#include "platform/values/Value.h"

using telvo::Bytes;
using telvo::Date;
using telvo::Value;
using telvo::ValueArray;
using telvo::ValueDictionary;

TEST(ValueConversion, IntegerValueOfText) {
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"42", 42},
        {"  42abc", 42},
        {"\t\n 7", 7},
        {"abc", 0},
        {"", 0},
        {"-13x", -13},
        {"+5", 5},
        {"- 5", 0},
        {"3.9", 3},
        {"0042", 42},
        {"9223372036854775807", INT64_MAX},
        {"99999999999999999999", INT64_MAX},
        {"-99999999999999999999", INT64_MIN},
        {"-9223372036854775808", INT64_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(Value(c.text).intValue(), c.expected) << '"' << c.text << '"';
}

TEST(ValueConversion, DoubleValueOfText) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"3.25", 3.25}, {"  -0.5kg", -0.5}, {".5", 0.5},   {"1e3", 1000}, {"1e", 1},
        {"abc", 0},     {"", 0},            {"inf", 0},    {"nan", 0},    {"0x10", 0},
        {"+2.5", 2.5},  {"7.", 7},          {"1e-400", 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(Value(c.text).doubleValue(), c.expected) << '"' << c.text << '"';
    EXPECT_TRUE(std::isinf(Value("1e400").doubleValue()));
}

TEST(ValueConversion, BooleanRule) {
    struct Case {
        const char* text;
        bool expected;
    } cases[] = {
        {"YES", true}, {"yes", true}, {"true", true}, {"T", true},   {"  y", true},  {"1", true},
        {"9", true},   {"-1", true},  {"+0001", true}, {"007", true}, {"00y", true}, {"NO", false},
        {"no", false}, {"false", false}, {"0", false}, {"000", false}, {"", false},  {"  ", false},
        {"abc", false}, {"-", false}, {"+-1", false}, {"x1", false}, {"0.5", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Value(c.text).boolValue(), c.expected) << '"' << c.text << '"';
    EXPECT_TRUE(Value(2).boolValue());
    EXPECT_FALSE(Value(0).boolValue());
    EXPECT_TRUE(Value(0.1).boolValue());
    EXPECT_FALSE(Value(std::nan("")).boolValue());
    EXPECT_TRUE(Value(true).boolValue());
}

TEST(ValueConversion, NullAnswersZero) {
    const Value null;
    EXPECT_TRUE(null.isNull());
    EXPECT_EQ(null.intValue(), 0);
    EXPECT_EQ(null.doubleValue(), 0);
    EXPECT_FALSE(null.boolValue());
    EXPECT_EQ(null.stringValue(), "");
    EXPECT_EQ(null.string(), "");
    EXPECT_EQ(null.count(), 0u);
    EXPECT_TRUE(null.bytes().empty());
    EXPECT_TRUE(null.array().empty());
    EXPECT_TRUE(null.dictionary().empty());
    EXPECT_TRUE(null["anything"].isNull());
    EXPECT_TRUE(null.at(3).isNull());
    EXPECT_TRUE(null["a"]["b"].at(0)["c"].isNull());
    EXPECT_EQ(null.description(), "(null)");
    // Containers and other kinds answer zero to number accessors as well.
    EXPECT_EQ(Value(ValueArray{1, 2}).intValue(), 0);
    EXPECT_EQ(Value::data("12").intValue(), 0);
    EXPECT_EQ(Value(Date{5}).intValue(), 0);
}

TEST(ValueConversion, NumbersAmongThemselves) {
    EXPECT_EQ(Value(3.99).intValue(), 3);
    EXPECT_EQ(Value(-3.99).intValue(), -3);
    EXPECT_EQ(Value(1e300).intValue(), INT64_MAX);
    EXPECT_EQ(Value(std::nan("")).intValue(), 0);
    EXPECT_EQ(Value(true).intValue(), 1);
    EXPECT_EQ(Value(7).doubleValue(), 7.0);
    EXPECT_EQ(Value(12).stringValue(), "12");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(3.0).stringValue(), "3");
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_EQ(Value(ValueArray{}).stringValue(), "");
}

TEST(ValueDescription, ScalarsAndContainers) {
    EXPECT_EQ(Value("plain text").description(), "plain text");
    EXPECT_EQ(Value(-42).description(), "-42");
    EXPECT_EQ(Value(2.5).description(), "2.5");
    EXPECT_EQ(Value(false).description(), "0");
    EXPECT_EQ(Value(Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0xff}).description(), "<0a1b2c3d ff>");
    EXPECT_EQ(Value(Bytes{}).description(), "<>");
    EXPECT_EQ(Value(Date{0}).description(), "1970-01-01 00:00:00 +0000");
    EXPECT_EQ(Value(Date{1700000000.75}).description(), "2023-11-14 22:13:20 +0000");
    EXPECT_EQ(Value(ValueArray{"a", 2}).description(), "(\n    a,\n    2\n)");
    EXPECT_EQ(Value(ValueArray{}).description(), "(\n)");
    Value dict(ValueDictionary{{"key", "value"}, {"n", 1}});
    EXPECT_EQ(dict.description(), "{\n    key = value;\n    n = 1;\n}");
    Value nested(ValueDictionary{{"list", ValueArray{"two words", ""}}});
    EXPECT_EQ(nested.description(), "{\n    list = (\n        \"two words\",\n        \"\"\n    );\n}");
}

TEST(ValueContainers, CopyOnWrite) {
    Value a(ValueArray{1, 2});
    Value b = a;
    b.append(3);
    EXPECT_EQ(a.count(), 2u);
    EXPECT_EQ(b.count(), 3u);

    Value d;
    d.set("x", 1);
    Value e = d;
    e.set("x", 2);
    e.set("y", 3);
    EXPECT_EQ(d["x"].intValue(), 1);
    EXPECT_FALSE(d.has("y"));
    EXPECT_EQ(e["x"].intValue(), 2);

    // A nested container reached through a copy is not shared either.
    Value outer;
    outer.set("inner", ValueDictionary{{"k", "v"}});
    Value copy = outer;
    copy.mutableDictionary()["inner"].set("k", "changed");
    EXPECT_EQ(outer["inner"]["k"].string(), "v");
    EXPECT_EQ(copy["inner"]["k"].string(), "changed");

    e.remove("x");
    EXPECT_FALSE(e.has("x"));
    EXPECT_TRUE(d.has("x"));
}

TEST(ValueContainers, MutableAccessConvertsOtherTypes) {
    Value v;
    v.append("first");
    EXPECT_TRUE(v.isArray());
    EXPECT_EQ(v.at(0).string(), "first");
    EXPECT_TRUE(v.at(1).isNull());
    Value s("text");
    s.set("k", 1);
    EXPECT_TRUE(s.isDictionary());
    Value untouched("text");
    untouched.remove("k");
    EXPECT_TRUE(untouched.isString());
}

TEST(ValueEquality, DeepAndAcrossNumberKinds) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(true), Value(1));
    EXPECT_NE(Value(1), Value(1.5));
    EXPECT_NE(Value(1), Value("1"));
    EXPECT_EQ(Value(), Value(nullptr));
    EXPECT_NE(Value(), Value(0));
    // Large integers are compared exactly, not through a rounded double.
    EXPECT_NE(Value(int64_t(9007199254740993LL)), Value(9007199254740992.0));
    EXPECT_EQ(Value(ValueDictionary{{"a", ValueArray{1, "x"}}}), Value(ValueDictionary{{"a", ValueArray{1.0, "x"}}}));
    EXPECT_NE(Value(ValueDictionary{{"a", 1}}), Value(ValueDictionary{{"b", 1}}));
    EXPECT_EQ(Value::data("ab"), Value(Bytes{'a', 'b'}));
    EXPECT_EQ(Value(Date{3}), Value::dateFromSeconds(3));
}

TEST(ValueConstruction, TextAndPointerKinds) {
    char buffer[] = "mutable";
    std::string_view view = "view text";
    const char* none = nullptr;
    EXPECT_EQ(Value(buffer).string(), "mutable");
    EXPECT_EQ(Value(view).string(), "view text");
    EXPECT_TRUE(Value(none).isString());
    EXPECT_TRUE(Value(nullptr).isNull());
    static_assert(!std::is_constructible_v<Value, int*>, "pointers must not turn into booleans");
    static_assert(!std::is_constructible_v<Value, const Value*>, "pointers must not turn into booleans");
}
