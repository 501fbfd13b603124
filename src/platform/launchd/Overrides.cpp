// Reading and writing the overrides file.
#include "platform/launchd/Overrides.h"

#include "platform/values/PropertyList.h"

namespace telvo::launchd {

std::optional<bool> Overrides::disabled(const std::string& label) const {
    Value all = plist::readFile(path_);
    const Value& entry = all[label];
    if (!entry["Disabled"].isBoolean()) return std::nullopt;
    return entry["Disabled"].boolValue();
}

ErrorPtr Overrides::setDisabled(const std::string& label, bool disabled) {
    Value all = plist::readFile(path_);
    if (!all.isDictionary()) all = Value(ValueDictionary{});
    Value entry = all[label].isDictionary() ? all[label] : Value(ValueDictionary{});
    entry.set("Disabled", Value(disabled));
    all.set(label, entry);
    ErrorPtr error;
    if (!plist::writeFile(all, path_, &error)) return error ? error : makeError("launchd", 1, "cannot write " + path_);
    return nullptr;
}

}  // namespace telvo::launchd
