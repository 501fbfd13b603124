#pragma once
// A typed XPC object: null, boolean, signed and unsigned 64-bit integers, double, data, string
// (its bytes, not necessarily UTF-8), date (nanoseconds since 1970-01-01 00:00:00 UTC), uuid,
// array and dictionary. Objects are values: copies share their containers until one is changed.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::xpc {

class Object;
using ObjectArray = std::vector<Object>;
using ObjectDictionary = std::map<std::string, Object>;
using UUIDBytes = std::array<uint8_t, 16>;

class Object {
public:
    enum class Type { Null, Bool, Int64, UInt64, Double, Data, String, Date, UUID, Array, Dictionary };

    Object() = default;  // null
    static Object null() { return Object(); }
    static Object boolean(bool b);
    static Object int64(int64_t i);
    static Object uint64(uint64_t i);
    static Object real(double d);
    static Object data(Bytes bytes);
    static Object string(std::string bytes);
    static Object date(int64_t nanoseconds);
    static Object uuid(const UUIDBytes& bytes);
    static Object array(ObjectArray elements = {});
    static Object dictionary(ObjectDictionary entries = {});

    Type type() const { return Type(v_.index()); }
    // The kind's own name: "null", "bool", "int64", "uint64", "double", "data", "string",
    // "date", "uuid", "array", "dictionary".
    const char* typeName() const;

    // Typed views; false, zero or empty when the object is of another type.
    bool boolValue() const;
    int64_t int64Value() const;
    uint64_t uint64Value() const;
    double doubleValue() const;
    int64_t dateValue() const;
    const Bytes& dataValue() const;
    const std::string& stringValue() const;
    UUIDBytes uuidValue() const;
    const ObjectArray& arrayValue() const;
    const ObjectDictionary& dictionaryValue() const;

    // Arrays and dictionaries (a null object becomes one on first use; copies on write).
    void append(Object element);
    void set(const std::string& key, Object value);
    // The value under a key; nullptr when missing or when this is no dictionary.
    const Object* get(const std::string& key) const;
    size_t count() const;

    // "<int64: 5>", "<string: \"text\">", "<array: count 2>", ... for log lines.
    std::string description() const;

    bool operator==(const Object& other) const;
    bool operator!=(const Object& other) const { return !(*this == other); }

private:
    struct DateTag {
        int64_t ns;
        bool operator==(const DateTag&) const = default;
    };
    struct DoubleTag {
        double d;
        bool operator==(const DoubleTag&) const = default;
    };
    struct UnsignedTag {
        uint64_t u;
        bool operator==(const UnsignedTag&) const = default;
    };
    struct StringTag {
        std::string s;
        bool operator==(const StringTag&) const = default;
    };
    using Storage = std::variant<std::monostate, bool, int64_t, UnsignedTag, DoubleTag, Bytes, StringTag, DateTag,
                                 UUIDBytes, std::shared_ptr<ObjectArray>, std::shared_ptr<ObjectDictionary>>;
    Storage v_;
};

}  // namespace telvo::xpc
