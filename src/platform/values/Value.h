#pragma once
// One property-list value: null, boolean, integer, double, string, data, date, array or
// dictionary. Preferences, job files, messages and collector samples are all made of these.
// Conversions follow the lenient rules the components rely on: a missing or null value
// answers zero, false or the empty string to every accessor.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace telvo {

class Value;
using ValueArray = std::vector<Value>;
using ValueDictionary = std::map<std::string, Value>;
using Bytes = std::vector<uint8_t>;

// A point in time, seconds since 1970 (UTC).
struct Date {
    double seconds = 0;
    bool operator==(const Date&) const = default;
};

class Value {
public:
    enum class Type { Null, Boolean, Integer, Double, String, Data, Date, Array, Dictionary };

    Value() = default;  // null
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t(i)) {}
    Value(long i) : v_(int64_t(i)) {}
    Value(long long i) : v_(int64_t(i)) {}
    Value(unsigned i) : v_(int64_t(i)) {}
    Value(unsigned long i) : v_(int64_t(i)) {}
    Value(unsigned long long i) : v_(int64_t(i)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s ? s : "")) {}
    Value(char* s) : Value(static_cast<const char*>(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    // Any other pointer would silently become a boolean: refused at compile time.
    template <class T>
    Value(T*) = delete;
    Value(Bytes d) : v_(std::move(d)) {}
    Value(Date d) : v_(d) {}
    Value(ValueArray a) : v_(std::make_shared<ValueArray>(std::move(a))) {}
    Value(ValueDictionary d) : v_(std::make_shared<ValueDictionary>(std::move(d))) {}

    static Value data(const std::string& bytes) { return Value(Bytes(bytes.begin(), bytes.end())); }
    static Value dateFromSeconds(double s) { return Value(Date{s}); }

    Type type() const { return Type(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isBoolean() || isInteger() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Numbers convert among themselves. The integer value of a string is the decimal number
    // at its start after blanks ("  42abc" -> 42), else 0; the double value likewise.
    // Everything else (null included) answers 0.
    int64_t intValue() const;
    double doubleValue() const;
    // Booleans as they are; numbers: non-zero; strings: true when they start (after blanks)
    // with 'Y', 'y', 'T', 't' or a non-zero digit; everything else false.
    bool boolValue() const;
    // Strings as they are; numbers in decimal; everything else the empty string.
    std::string stringValue() const;
    // The description used for "%@": strings as they are, numbers in decimal, booleans
    // "1"/"0", null "(null)", data "<0a1b ...>", dates "YYYY-MM-DD HH:MM:SS +0000",
    // arrays "(\n    a,\n    b\n)", dictionaries "{\n    key = value;\n}".
    std::string description() const;

    // Typed views; an empty one of the right type when the value is of another type.
    const std::string& string() const;
    const Bytes& bytes() const;
    Date date() const;
    const ValueArray& array() const;
    const ValueDictionary& dictionary() const;

    // Mutable access: converts a null value into an empty array/dictionary first; a value of
    // another type is replaced. Containers are copied on write, so Values share safely.
    ValueArray& mutableArray();
    ValueDictionary& mutableDictionary();

    // Dictionary lookup; the null value when missing or when this is no dictionary.
    const Value& operator[](const std::string& key) const;
    const Value& get(const std::string& key) const { return (*this)[key]; }
    bool has(const std::string& key) const;
    void set(const std::string& key, Value value);
    void remove(const std::string& key);
    // Array element; the null value when out of range or when this is no array.
    const Value& at(size_t index) const;
    void append(Value value);
    // Element count of arrays, dictionaries, strings and data; 0 otherwise.
    size_t count() const;

    // Deep equality; numbers compare by value across integer, double and boolean.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

    static const Value& null();

private:
    using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Bytes, Date,
                                 std::shared_ptr<ValueArray>, std::shared_ptr<ValueDictionary>>;
    Storage v_;
};

}  // namespace telvo
