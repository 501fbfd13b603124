#pragma once
// Small builders for the configuration dictionaries the collectors fill in their
// constructors: name -> value index maps and lists of names.
#include <initializer_list>
#include <string>
#include <utility>

#include "collectors/framework/SampleTypes.h"
#include "platform/values/Value.h"

namespace telvo::configmaps {

inline Value indexMap(std::initializer_list<std::pair<const char*, int>> entries) {
    ValueDictionary d;
    for (const auto& [name, index] : entries) d[name] = NSInt(index);
    return Value(std::move(d));
}

inline Value names(std::initializer_list<const char*> entries) {
    ValueArray a;
    for (const char* n : entries) a.push_back(Value(n));
    return Value(std::move(a));
}

inline Value numbers(std::initializer_list<int> entries) {
    ValueArray a;
    for (int n : entries) a.push_back(NSInt(n));
    return Value(std::move(a));
}

}  // namespace telvo::configmaps
