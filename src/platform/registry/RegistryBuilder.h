#pragma once
// Puts a registry together by hand: the fixture trees of tests, and the Linux backend.
#include <memory>
#include <string>

#include "platform/registry/Registry.h"

namespace telvo::registry {

class RegistryBuilder {
public:
    RegistryBuilder() : registry_(std::make_shared<Registry>()) {}

    // A new entry below `parent` (the root when empty) with the given properties.
    std::shared_ptr<Entry> add(const std::shared_ptr<Entry>& parent, const std::string& className,
                               const std::string& name, ValueDictionary properties = {}) {
        auto entry = registry_->addEntry(parent, className, name);
        for (auto& [key, value] : properties) entry->setProperty(key, std::move(value));
        return entry;
    }
    RegistryBuilder& declareClass(const std::string& className, const std::string& superclass) {
        registry_->declareClass(className, superclass);
        return *this;
    }
    std::shared_ptr<Entry> root() { return registry_->mutableRoot(); }
    std::shared_ptr<Registry> registry() const { return registry_; }
    // Makes the tree the process-wide registry and answers it.
    std::shared_ptr<Registry> install() const {
        Registry::setSharedForTesting(registry_);
        return registry_;
    }

private:
    std::shared_ptr<Registry> registry_;
};

}  // namespace telvo::registry
