#pragma once
// The registry walker of the collectors: an iterator over the registry entries a match (BSD
// name, registry name, class, matching dictionary) or a child walk found, handing out each
// entry's properties in turn; and class operations that walk from an entry to its parents or
// down its first children and read properties. All walks use the service plane of the
// process-wide registry (telvo::registry::Registry::shared()).
#include <cstdint>
#include <string>

#include "platform/registry/Iterator.h"
#include "platform/registry/Registry.h"

namespace telvo {

using RegistryEntry = registry::EntryRef;  // empty = no entry

class KXRIOKitUtilities {
public:
    // An empty iterator.
    KXRIOKitUtilities() = default;

    static KXRIOKitUtilities iteratorWithBSDNameMatch(const std::string& bsdName);
    static KXRIOKitUtilities iteratorWithServiceNameMatch(const std::string& name);
    static KXRIOKitUtilities iteratorWithServiceMatch(const std::string& className);
    static KXRIOKitUtilities iteratorWithMatch(const Value& matching);
    static KXRIOKitUtilities childIteratorFromObject(const RegistryEntry& entry);

    // Steps to the next entry and answers its property dictionary; null at the end (the
    // current entry is then empty) or without an iterator.
    Value next();
    // The current entry; valid until the next step, finish or the iterator's end.
    const RegistryEntry& object() const { return object_; }
    // Drops the current entry; the iterator stays, so a further next continues.
    void finish() { object_.reset(); }
    // Starts the iterator again; the current entry stays until the next step.
    void reset();
    bool hasIterator() const { return hasIterator_; }

    // The current entry's registry name, path ("IOService:/...") and entry id ("%llu");
    // empty without a current entry.
    std::string objectName() const { return nameForObject(object_); }
    std::string objectPath() const { return pathForObject(object_); }
    std::string objectID() const;

    static RegistryEntry objectAtPath(const std::string& path);
    static Value propertiesFromObjectAtPath(const std::string& path);
    static Value property(const std::string& key, const RegistryEntry& entry);
    static Value propertiesFromObject(const RegistryEntry& entry);
    // Index below 1: the entry itself; 1 the direct parent, 2 the grandparent, ...; empty once
    // the chain ends.
    static RegistryEntry parentAtIndex(int index, const RegistryEntry& entry);
    // The same down the first-child chain.
    static RegistryEntry childAtIndex(int index, const RegistryEntry& entry);
    static Value dictionaryForParentAtIndex(int index, const RegistryEntry& entry);
    static Value dictionaryForChildAtIndex(int index, const RegistryEntry& entry);
    // The first value of `key` among the entry's ancestors, from the direct parent up to the
    // limit-th one; the entry's own properties are not searched. Null when none has it.
    static Value searchForKeyInParents(const std::string& key, int64_t limit, const RegistryEntry& entry);
    static Value dictionaryWithMatch(const Value& matching);
    static std::string pathForObject(const RegistryEntry& entry);
    static std::string nameForObject(const RegistryEntry& entry);

private:
    explicit KXRIOKitUtilities(registry::Iterator iterator)
        : iterator_(std::move(iterator)), hasIterator_(true) {}

    registry::Iterator iterator_;
    bool hasIterator_ = false;
    RegistryEntry object_;
};

}  // namespace telvo
