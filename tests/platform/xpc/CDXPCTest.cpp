// Conversion between XPC objects and property-list values, both ways.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>
#include "platform/systemlog/SystemLog.h"
#include "platform/xpc/CDXPC.h"

namespace telvo::xpc {
namespace {

class CDXPCTest : public ::testing::Test {
protected:
    void SetUp() override {
        systemlog::setCaptureForTesting([this](const std::string& line) { logged_.push_back(line); });
    }
    void TearDown() override { systemlog::setCaptureForTesting(nullptr); }
    std::vector<std::string> logged_;
};

Value nestedValue() {
    return Value(ValueArray{
        Value(ValueDictionary{{"name", Value("first")}, {"n", Value(1)}}),
        Value(ValueDictionary{{"name", Value("second")}, {"list", Value(ValueArray{Value(true), Value(2.5)})}}),
        Value(ValueArray{}),
    });
}

TEST_F(CDXPCTest, EveryValueRoundTripsThroughItsXPCKind) {
    struct Case {
        const char* what;
        Value value;
        Object::Type kind;
    };
    const std::vector<Case> cases = {
        {"null", Value(), Object::Type::Null},
        {"true", Value(true), Object::Type::Bool},
        {"false", Value(false), Object::Type::Bool},
        {"zero", Value(0), Object::Type::Int64},
        {"negative", Value(int64_t(-42)), Object::Type::Int64},
        {"int64 max", Value(std::numeric_limits<int64_t>::max()), Object::Type::Int64},
        {"int64 min", Value(std::numeric_limits<int64_t>::min()), Object::Type::Int64},
        {"double", Value(0.5), Object::Type::Double},
        {"empty string", Value(""), Object::Type::String},
        {"UTF-8 string", Value("Gr\xc3\xbc\xc3\x9f""e \xe2\x82\xac \xf0\x9f\x98\x80"), Object::Type::String},
        {"data", Value(Bytes{0, 1, 0xff, 0}), Object::Type::Data},
        {"empty data", Value(Bytes{}), Object::Type::Data},
        {"date", Value::dateFromSeconds(1700000000.25), Object::Type::Date},
        {"date before 1970", Value::dateFromSeconds(-86400.5), Object::Type::Date},
        {"nested arrays of dictionaries", nestedValue(), Object::Type::Array},
        {"dictionary", Value(ValueDictionary{{"a", Value()}, {"b", Value("x")}, {"c", nestedValue()}}),
         Object::Type::Dictionary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Object object = XPCObject(c.value);
        EXPECT_EQ(object.type(), c.kind);
        std::optional<Value> back = valueWithXPCObject(object);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->type(), c.value.type());
        EXPECT_EQ(*back, c.value);
    }
    EXPECT_TRUE(logged_.empty());
}

TEST_F(CDXPCTest, XPCObjectsConvertToTheirValuesAndBack) {
    const uint64_t aboveSigned = uint64_t(std::numeric_limits<int64_t>::max()) + 1;
    struct Case {
        const char* what;
        Object object;
        Value value;
        Object::Type backKind;  // the kind the value converts back to
    };
    const std::vector<Case> cases = {
        {"uint64 in range", Object::uint64(7), Value(7), Object::Type::Int64},
        {"uint64 at int64 max", Object::uint64(uint64_t(std::numeric_limits<int64_t>::max())),
         Value(std::numeric_limits<int64_t>::max()), Object::Type::Int64},
        {"uint64 above int64 max", Object::uint64(aboveSigned), Value(double(aboveSigned)), Object::Type::Double},
        {"date in nanoseconds", Object::date(1500000000123000000), Value::dateFromSeconds(1500000000.123),
         Object::Type::Date},
        {"string", Object::string("abc"), Value("abc"), Object::Type::String},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<Value> value = valueWithXPCObject(c.object);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, c.value);
        EXPECT_EQ(XPCObject(*value).type(), c.backKind);
    }
    // A date keeps its instant to the nanosecond as far as a double holds it.
    EXPECT_NEAR(double(XPCObject(Value::dateFromSeconds(1500000000.123)).dateValue()), 1500000000123000000.0, 256);
}

TEST_F(CDXPCTest, EachClassTakesOnlyItsOwnKinds) {
    const Object samples[] = {Object::null(),  Object::boolean(true), Object::int64(1),     Object::uint64(1),
                              Object::real(1), Object::data({1}),     Object::string("s"),  Object::date(1),
                              Object::array(), Object::dictionary(),  Object::uuid({})};
    using Converter = std::optional<Value> (*)(const Object&);
    struct Class {
        const char* name;
        Converter convert;
        std::vector<Object::Type> takes;
    };
    const std::vector<Class> classes = {
        {"data", dataWithXPCObject, {Object::Type::Data}},
        {"number",
         numberWithXPCObject,
         {Object::Type::Bool, Object::Type::Int64, Object::Type::UInt64, Object::Type::Double}},
        {"array", arrayWithXPCObject, {Object::Type::Array}},
        {"null", nullWithXPCObject, {Object::Type::Null}},
        {"string", stringWithXPCObject, {Object::Type::String}},
        {"date", dateWithXPCObject, {Object::Type::Date}},
        {"dictionary", dictionaryWithXPCObject, {Object::Type::Dictionary}},
    };
    for (const Class& c : classes) {
        for (const Object& sample : samples) {
            SCOPED_TRACE(std::string(c.name) + " from " + sample.typeName());
            bool takes = false;
            for (Object::Type t : c.takes) takes = takes || t == sample.type();
            EXPECT_EQ(c.convert(sample).has_value(), takes);
        }
    }
    EXPECT_TRUE(logged_.empty()) << "the class operations log nothing";
}

TEST_F(CDXPCTest, UnsupportedObjectsAreLoggedSkippedInArraysAndNullInDictionaries) {
    const Object uuid = Object::uuid({0x12, 0x34});
    const Object badText = Object::string("ab\xff");
    Object array = Object::array({Object::int64(1), uuid, Object::string("two"), badText, Object::int64(3)});
    std::optional<Value> fromArray = arrayWithXPCObject(array);
    ASSERT_TRUE(fromArray);
    EXPECT_EQ(*fromArray, Value(ValueArray{Value(1), Value("two"), Value(3)}));

    Object dictionary = Object::dictionary({{"id", uuid}, {"text", badText}, {"ok", Object::boolean(true)}});
    std::optional<Value> fromDictionary = dictionaryWithXPCObject(dictionary);
    ASSERT_TRUE(fromDictionary);
    EXPECT_EQ(fromDictionary->count(), 3u);
    EXPECT_TRUE(fromDictionary->has("id"));
    EXPECT_TRUE((*fromDictionary)["id"].isNull());
    EXPECT_TRUE(fromDictionary->has("text"));
    EXPECT_TRUE((*fromDictionary)["text"].isNull());
    EXPECT_EQ((*fromDictionary)["ok"], Value(true));

    ASSERT_EQ(logged_.size(), 4u);
    EXPECT_EQ(logged_[0], "Unsupported XPC object '<uuid: 12340000-0000-0000-0000-000000000000>'.");
    EXPECT_EQ(logged_[1], "Unsupported XPC object '<string: \"ab\\xff\">'.");
}

TEST_F(CDXPCTest, ValidatesUTF8) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"plain", true},
        {"\xc3\xa9", true},
        {"\xf4\x8f\xbf\xbf", true},
        {"\xc0\xaf", false},          // overlong "/"
        {"\xe0\x80\xaf", false},      // overlong
        {"\xed\xa0\x80", false},      // surrogate
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
        {"\xc3", false},              // cut short
        {"\x80", false},
    };
    for (const auto& [bytes, valid] : cases) EXPECT_EQ(isValidUTF8(bytes), valid) << Object::string(bytes).description();
}

}  // namespace
}  // namespace telvo::xpc
