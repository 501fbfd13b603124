#pragma once
// The device registry: a tree of entries in one service plane, with IOKit-style matching
// (class with inheritance, registry name, BSD name, property tables) and path lookup. The
// process-wide registry is built from sysfs on first use; tests install a fixture tree.
// Entries found by matching, path or id keep their whole registry alive while they are held, so
// that their parents still answer after the process-wide registry has been built again.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry/Entry.h"

namespace telvo::registry {

class Registry : public std::enable_shared_from_this<Registry> {
public:
    // A registry holding only its root ("Root", class "IORegistryEntry").
    Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    EntryRef root() const { return root_; }
    std::shared_ptr<Entry> mutableRoot() { return root_; }

    // Appends a new child to `parent` (the root when empty) and answers it; entry ids are given
    // out in creation order.
    std::shared_ptr<Entry> addEntry(const std::shared_ptr<Entry>& parent, const std::string& className,
                                    const std::string& name);

    // Class inheritance for matching by class. The usual storage and platform classes are known
    // from the start; every class not declared inherits from "IOService".
    void declareClass(const std::string& className, const std::string& superclass);
    bool classConformsTo(const std::string& className, const std::string& ancestor) const;

    // Matching dictionaries as the matching helpers make them.
    static Value serviceMatching(const std::string& className);   // {"IOProviderClass": name}
    static Value nameMatching(const std::string& name);           // {"IONameMatch": name}
    static Value bsdNameMatching(const std::string& bsdName);     // {"IOBSDName": name}

    // Every entry below the root that matches, in registry order (depth first, parents before
    // children). Keys: "IOProviderClass" (class or a subclass), "IONameMatch" (a name or a list
    // of names), "IOBSDName" (the "BSD Name" property), "IOPropertyMatch" (a dictionary, or a
    // list of dictionaries of which one must match, whose every key must equal the entry's
    // property); any other key must equal the entry's property of that name. A non-dictionary
    // matches nothing; an empty dictionary matches every service.
    std::vector<EntryRef> matchingServices(const Value& matching) const;
    // The entry at a path in the service plane ("IOService:/a/b@loc"); empty when none.
    EntryRef entryFromPath(const std::string& path) const;
    EntryRef entryWithID(uint64_t entryID) const;
    // Every entry in registry order, the root first.
    std::vector<EntryRef> allEntries() const;

    // The process-wide registry: built from the Linux backend on first use.
    static std::shared_ptr<Registry> shared();
    // Builds the process-wide registry again from the backend (after devices came or went).
    // Entries handed out earlier stay valid, with their ancestors, but belong to the old tree.
    static void refreshShared();
    static void setSharedForTesting(std::shared_ptr<Registry> registry);
    static void resetForTesting();

private:
    bool matches(const Entry& entry, const ValueDictionary& matching) const;
    // The entry as handed out: sharing the ownership of this registry when a shared pointer
    // holds it (a walk up from the entry then never finds its parents gone), else as it is.
    EntryRef handOut(const EntryRef& entry) const;

    std::shared_ptr<Entry> root_;
    uint64_t nextID_ = 0x100000100ULL;
    std::shared_ptr<ClassTable> classes_;
};

}  // namespace telvo::registry
