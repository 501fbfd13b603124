#pragma once
// Two-way conversion between XPC objects and property-list values, for data, numbers, arrays,
// null, strings, dates and dictionaries. Every value has an XPC form; from XPC, an object of a
// kind no value holds (a uuid, or a string whose bytes are not UTF-8) is logged to the system
// log as "Unsupported XPC object '<description>'." and left out of an array, or stored as null
// in a dictionary. An unsigned integer above the signed range becomes a double.
#include <optional>
#include "platform/values/Value.h"
#include "platform/xpc/Object.h"

namespace telvo::xpc {

// The XPC form of a value: a boolean, a signed integer or a double for numbers (by the
// number's kind); data, string, date (nanoseconds), null; arrays and dictionaries element by
// element.
Object XPCObject(const Value& value);

// One value class from XPC each: nothing when the object is not of that class's XPC kinds.
std::optional<Value> dataWithXPCObject(const Object& object);
// Boolean, double, signed and unsigned 64-bit integers.
std::optional<Value> numberWithXPCObject(const Object& object);
std::optional<Value> arrayWithXPCObject(const Object& object);
std::optional<Value> nullWithXPCObject(const Object& object);
// Nothing also when the bytes are not UTF-8.
std::optional<Value> stringWithXPCObject(const Object& object);
std::optional<Value> dateWithXPCObject(const Object& object);
std::optional<Value> dictionaryWithXPCObject(const Object& object);

// An element of a collection from XPC, through its kind's class; an unsupported kind is
// logged and answers nothing.
std::optional<Value> valueWithXPCObject(const Object& object);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(const std::string& bytes);

}  // namespace telvo::xpc
