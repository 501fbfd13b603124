#pragma once
// One entry of the device registry: a class, a name, an optional location, a 64-bit entry id,
// a property dictionary and its place in the single service plane (one parent, ordered children).
// Entries are shared: holding an EntryRef keeps the entry and everything below it alive; one
// that the registry handed out (Registry::matchingServices and the lookups) keeps the whole tree.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/values/Value.h"

namespace telvo::registry {

class Entry;
class Registry;
using EntryRef = std::shared_ptr<const Entry>;

// Which class inherits from which, shared by a registry and its entries so that an entry
// outliving its registry still answers conformsTo().
struct ClassTable {
    std::map<std::string, std::string> superclass;
    // Classes not in the table inherit from "IOService", which inherits from "IORegistryEntry".
    bool conformsTo(const std::string& className, const std::string& ancestor) const;
};

class Entry : public std::enable_shared_from_this<Entry> {
public:
    // A property whose value is read afresh on every access (counters such as "Statistics").
    using LiveProperty = std::function<Value()>;

    const std::string& className() const { return className_; }
    const std::string& name() const { return name_; }
    // The location after "@" in the entry's path component; empty when it has none.
    const std::string& location() const { return location_; }
    uint64_t entryID() const { return entryID_; }
    // The "BSD Name" property as text; empty when the entry has none.
    std::string bsdName() const;
    // The "BSD Name" of this entry or, when it has none, of the first entry below it (depth
    // first, in registry order) that has one; empty when none has.
    std::string bsdNameBelow() const;

    // Every property, live ones read now, as a dictionary value.
    Value properties() const;
    // One property; the null value when absent.
    Value property(const std::string& key) const;
    bool hasProperty(const std::string& key) const;

    // The parent in the service plane; empty for the root or once the tree is gone.
    EntryRef parent() const { return parent_.lock(); }
    // The children, in registry order.
    std::vector<EntryRef> children() const { return {children_.begin(), children_.end()}; }
    EntryRef firstChild() const { return children_.empty() ? nullptr : children_.front(); }

    // "IOService:/" followed by the names ("name@location") from below the root down to this
    // entry, joined by "/". The root's path is "IOService:/".
    std::string path() const;
    // True when the entry's class is `className` or inherits from it (see Registry::declareClass).
    bool conformsTo(const std::string& className) const;

    // Building (only while a registry is being put together, before it is published).
    void setProperty(const std::string& key, Value value);
    void setLiveProperty(const std::string& key, LiveProperty read);
    void removeProperty(const std::string& key);
    void setLocation(std::string location) { location_ = std::move(location); }

    Entry(std::shared_ptr<const ClassTable> classes, std::string className, std::string name, uint64_t entryID);

private:
    friend class Registry;
    std::string pathComponent() const;

    std::shared_ptr<const ClassTable> classes_;
    std::string className_;
    std::string name_;
    std::string location_;
    uint64_t entryID_;
    ValueDictionary properties_;
    std::map<std::string, LiveProperty> live_;
    std::weak_ptr<Entry> parent_;
    std::vector<std::shared_ptr<Entry>> children_;
};

}  // namespace telvo::registry
