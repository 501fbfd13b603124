#include "platform/registry/Registry.h"

#include <functional>

#include "platform/registry/SysfsRegistry.h"

namespace telvo::registry {
namespace {

// Classes the storage, network and platform code matches on, with their superclasses.
const std::pair<const char*, const char*> kKnownClasses[] = {
    {"IOService", "IORegistryEntry"},
    {"IOMedia", "IOStorage"},
    {"IOStorage", "IOService"},
    {"IOCDMedia", "IOMedia"},
    {"IODVDMedia", "IOCDMedia"},
    {"IOBDMedia", "IODVDMedia"},
    {"IOBlockStorageDriver", "IOStorage"},
    {"IOBlockStorageDevice", "IOService"},
    {"IOPartitionScheme", "IOStorage"},
    {"IOPCIDevice", "IOService"},
    {"IOPlatformExpertDevice", "IOService"},
    {"IOPlatformDevice", "IOService"},
    {"IONetworkInterface", "IOService"},
    {"IOEthernetInterface", "IONetworkInterface"},
};

std::mutex gSharedMutex;
std::shared_ptr<Registry> gShared;

}  // namespace

Registry::Registry() {
    classes_ = std::make_shared<ClassTable>();
    for (const auto& [cls, super] : kKnownClasses) classes_->superclass[cls] = super;
    root_ = std::make_shared<Entry>(classes_, "IORegistryEntry", "Root", nextID_++);
}

std::shared_ptr<Entry> Registry::addEntry(const std::shared_ptr<Entry>& parent, const std::string& className,
                                          const std::string& name) {
    auto entry = std::make_shared<Entry>(classes_, className, name, nextID_++);
    const std::shared_ptr<Entry>& p = parent ? parent : root_;
    entry->parent_ = p;
    p->children_.push_back(entry);
    return entry;
}

void Registry::declareClass(const std::string& className, const std::string& superclass) {
    classes_->superclass[className] = superclass;
}

EntryRef Registry::handOut(const EntryRef& entry) const {
    std::shared_ptr<const Registry> self = weak_from_this().lock();
    if (!self || !entry) return entry;
    return EntryRef(self, entry.get());
}

bool Registry::classConformsTo(const std::string& className, const std::string& ancestor) const {
    return classes_->conformsTo(className, ancestor);
}

Value Registry::serviceMatching(const std::string& className) {
    return Value(ValueDictionary{{"IOProviderClass", Value(className)}});
}

Value Registry::nameMatching(const std::string& name) {
    return Value(ValueDictionary{{"IONameMatch", Value(name)}});
}

Value Registry::bsdNameMatching(const std::string& bsdName) {
    return Value(ValueDictionary{{"IOBSDName", Value(bsdName)}});
}

bool Registry::matches(const Entry& entry, const ValueDictionary& matching) const {
    auto propertyTableMatches = [&](const Value& table) {
        if (!table.isDictionary()) return false;
        for (const auto& [key, value] : table.dictionary()) {
            if (!entry.hasProperty(key) || entry.property(key) != value) return false;
        }
        return true;
    };
    for (const auto& [key, want] : matching) {
        if (key == "IOProviderClass") {
            if (!want.isString() || !entry.conformsTo(want.string())) return false;
        } else if (key == "IONameMatch") {
            bool any = false;
            if (want.isString()) any = want.string() == entry.name();
            for (const Value& n : want.array()) any = any || (n.isString() && n.string() == entry.name());
            if (!any) return false;
        } else if (key == "IOBSDName") {
            if (!want.isString() || entry.bsdName() != want.string()) return false;
        } else if (key == "IOPropertyMatch") {
            bool any = want.isDictionary() && propertyTableMatches(want);
            for (const Value& table : want.array()) any = any || propertyTableMatches(table);
            if (!any) return false;
        } else {
            if (!entry.hasProperty(key) || entry.property(key) != want) return false;
        }
    }
    return true;
}

std::vector<EntryRef> Registry::allEntries() const {
    std::vector<EntryRef> all;
    std::function<void(const std::shared_ptr<Entry>&)> walk = [&](const std::shared_ptr<Entry>& e) {
        all.push_back(e);
        for (const auto& child : e->children_) walk(child);
    };
    walk(root_);
    return all;
}

std::vector<EntryRef> Registry::matchingServices(const Value& matching) const {
    std::vector<EntryRef> found;
    if (!matching.isDictionary()) return found;
    const ValueDictionary& table = matching.dictionary();
    for (const EntryRef& e : allEntries()) {
        if (e == root_) continue;
        if (matches(*e, table)) found.push_back(handOut(e));
    }
    return found;
}

EntryRef Registry::entryFromPath(const std::string& path) const {
    static const std::string kPlane = "IOService:";
    if (path.compare(0, kPlane.size(), kPlane) != 0) return nullptr;
    std::string rest = path.substr(kPlane.size());
    if (rest.empty() || rest[0] != '/') return nullptr;
    EntryRef current = root_;
    size_t pos = 1;
    while (pos < rest.size()) {
        size_t slash = rest.find('/', pos);
        std::string component = rest.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        pos = slash == std::string::npos ? rest.size() : slash + 1;
        if (component.empty()) continue;
        EntryRef next;
        // "name@location" must match both; a bare name matches the first child of that name.
        for (const EntryRef& child : current->children()) {
            const std::string own = child->pathComponent();
            const bool bareName = component.find('@') == std::string::npos;
            if (own == component || (bareName && own.compare(0, component.size() + 1, component + "@") == 0)) {
                next = child;
                break;
            }
        }
        if (!next) return nullptr;
        current = next;
    }
    return handOut(current);
}

EntryRef Registry::entryWithID(uint64_t entryID) const {
    for (const EntryRef& e : allEntries())
        if (e->entryID() == entryID) return handOut(e);
    return nullptr;
}

std::shared_ptr<Registry> Registry::shared() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = buildFromSysfs(sysfsRoot());
    return gShared;
}

void Registry::refreshShared() {
    auto fresh = buildFromSysfs(sysfsRoot());
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared = std::move(fresh);
}

void Registry::setSharedForTesting(std::shared_ptr<Registry> registry) {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared = std::move(registry);
}

void Registry::resetForTesting() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared.reset();
}

}  // namespace telvo::registry
