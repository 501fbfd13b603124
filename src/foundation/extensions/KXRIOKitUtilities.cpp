#include "foundation/extensions/KXRIOKitUtilities.h"

namespace telvo {

KXRIOKitUtilities KXRIOKitUtilities::iteratorWithMatch(const Value& matching) {
    if (!matching.isDictionary()) return KXRIOKitUtilities();
    return KXRIOKitUtilities(registry::Iterator(registry::Registry::shared()->matchingServices(matching)));
}

KXRIOKitUtilities KXRIOKitUtilities::iteratorWithBSDNameMatch(const std::string& bsdName) {
    return iteratorWithMatch(registry::Registry::bsdNameMatching(bsdName));
}

KXRIOKitUtilities KXRIOKitUtilities::iteratorWithServiceNameMatch(const std::string& name) {
    return iteratorWithMatch(registry::Registry::nameMatching(name));
}

KXRIOKitUtilities KXRIOKitUtilities::iteratorWithServiceMatch(const std::string& className) {
    return iteratorWithMatch(registry::Registry::serviceMatching(className));
}

KXRIOKitUtilities KXRIOKitUtilities::childIteratorFromObject(const RegistryEntry& entry) {
    if (!entry) return KXRIOKitUtilities();
    return KXRIOKitUtilities(registry::Iterator(entry->children()));
}

Value KXRIOKitUtilities::next() {
    object_.reset();
    if (!hasIterator_) return Value();
    object_ = iterator_.next();
    if (!object_) return Value();
    return object_->properties();
}

void KXRIOKitUtilities::reset() {
    if (hasIterator_) iterator_.reset();
}

std::string KXRIOKitUtilities::objectID() const {
    return object_ ? std::to_string(static_cast<unsigned long long>(object_->entryID())) : std::string();
}

RegistryEntry KXRIOKitUtilities::objectAtPath(const std::string& path) {
    return registry::Registry::shared()->entryFromPath(path);
}

Value KXRIOKitUtilities::propertiesFromObjectAtPath(const std::string& path) {
    return propertiesFromObject(objectAtPath(path));
}

Value KXRIOKitUtilities::property(const std::string& key, const RegistryEntry& entry) {
    return entry ? entry->property(key) : Value();
}

Value KXRIOKitUtilities::propertiesFromObject(const RegistryEntry& entry) {
    return entry ? entry->properties() : Value();
}

RegistryEntry KXRIOKitUtilities::parentAtIndex(int index, const RegistryEntry& entry) {
    RegistryEntry current = entry;
    for (int step = 1; step <= index && current; ++step) current = current->parent();
    return current;
}

RegistryEntry KXRIOKitUtilities::childAtIndex(int index, const RegistryEntry& entry) {
    RegistryEntry current = entry;
    for (int step = 1; step <= index && current; ++step) current = current->firstChild();
    return current;
}

Value KXRIOKitUtilities::dictionaryForParentAtIndex(int index, const RegistryEntry& entry) {
    return propertiesFromObject(parentAtIndex(index, entry));
}

Value KXRIOKitUtilities::dictionaryForChildAtIndex(int index, const RegistryEntry& entry) {
    return propertiesFromObject(childAtIndex(index, entry));
}

Value KXRIOKitUtilities::searchForKeyInParents(const std::string& key, int64_t limit, const RegistryEntry& entry) {
    RegistryEntry current = entry;
    for (int64_t round = 0; round < limit && current; ++round) {
        current = current->parent();
        if (current && current->hasProperty(key)) return current->property(key);
    }
    return Value();
}

Value KXRIOKitUtilities::dictionaryWithMatch(const Value& matching) {
    KXRIOKitUtilities it = iteratorWithMatch(matching);
    return it.next();
}

std::string KXRIOKitUtilities::pathForObject(const RegistryEntry& entry) {
    return entry ? entry->path() : std::string();
}

std::string KXRIOKitUtilities::nameForObject(const RegistryEntry& entry) {
    return entry ? entry->name() : std::string();
}

}  // namespace telvo
