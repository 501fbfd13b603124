#include "helper/HelperCommand.h"

namespace telvo::helper {

HelperCommand HelperCommand::make(const std::string& command, const ValueDictionary& keys) {
    ValueDictionary d = keys;
    d["command"] = Value(command);
    return HelperCommand(Value(std::move(d)));
}

std::string HelperCommand::text(const std::string& key) const {
    if (!has(key)) return {};
    const Value& v = dictionary_[key];
    return v.isString() ? v.string() : std::string();
}

}  // namespace telvo::helper
