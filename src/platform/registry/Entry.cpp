#include "platform/registry/Entry.h"

namespace telvo::registry {

bool ClassTable::conformsTo(const std::string& className, const std::string& ancestor) const {
    std::string cls = className;
    // Bounded walk: a careless declaration loop must not hang matching.
    for (int depth = 0; depth < 64; ++depth) {
        if (cls == ancestor) return true;
        if (auto it = superclass.find(cls); it != superclass.end()) {
            cls = it->second;
        } else if (cls == "IORegistryEntry") {
            return false;
        } else if (cls == "IOService") {
            cls = "IORegistryEntry";
        } else {
            cls = "IOService";
        }
    }
    return false;
}

Entry::Entry(std::shared_ptr<const ClassTable> classes, std::string className, std::string name, uint64_t entryID)
    : classes_(std::move(classes)), className_(std::move(className)), name_(std::move(name)), entryID_(entryID) {}

std::string Entry::bsdName() const {
    Value v = property("BSD Name");
    return v.isString() ? v.string() : std::string();
}

std::string Entry::bsdNameBelow() const {
    std::string name = bsdName();
    if (!name.empty()) return name;
    for (const auto& child : children()) {
        name = child->bsdNameBelow();
        if (!name.empty()) return name;
    }
    return "";
}

Value Entry::properties() const {
    ValueDictionary all = properties_;
    for (const auto& [key, read] : live_) all[key] = read();
    return Value(std::move(all));
}

Value Entry::property(const std::string& key) const {
    if (auto live = live_.find(key); live != live_.end()) return live->second();
    if (auto it = properties_.find(key); it != properties_.end()) return it->second;
    return Value();
}

bool Entry::hasProperty(const std::string& key) const {
    return live_.count(key) != 0 || properties_.count(key) != 0;
}

void Entry::setProperty(const std::string& key, Value value) {
    live_.erase(key);
    properties_[key] = std::move(value);
}

void Entry::setLiveProperty(const std::string& key, LiveProperty read) {
    properties_.erase(key);
    live_[key] = std::move(read);
}

void Entry::removeProperty(const std::string& key) {
    properties_.erase(key);
    live_.erase(key);
}

std::string Entry::pathComponent() const {
    std::string component = name_;
    for (char& c : component)
        if (c == '/') c = '_';
    if (!location_.empty()) component += "@" + location_;
    return component;
}

std::string Entry::path() const {
    std::vector<std::string> components;
    for (EntryRef e = shared_from_this(); e; e = e->parent()) {
        if (!e->parent()) break;  // the root has no component of its own
        components.push_back(e->pathComponent());
    }
    std::string p = "IOService:";
    if (components.empty()) return p + "/";
    for (auto it = components.rbegin(); it != components.rend(); ++it) p += "/" + *it;
    return p;
}

bool Entry::conformsTo(const std::string& className) const {
    if (className_ == className) return true;
    return classes_ && classes_->conformsTo(className_, className);
}

}  // namespace telvo::registry
