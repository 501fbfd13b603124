#pragma once
// CoreStorageStatCollector: the CoreStorage collector's neutral part and process-wide instance.
// It is served but never scans in the daemon (not on the clock, not on disk changes), so its
// list stays empty and its session keeps its creation value; the scan over the registry's
// CoreStorage physical volumes and groups is built whole for when it is called.
#include <memory>
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/CoreStorageStatCollectorItem.h"

namespace telvo {

class CoreStorageStatCollector : public StatCollector {
public:
    static std::shared_ptr<CoreStorageStatCollector> sharedCoreStorageCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    CoreStorageStatCollector();
    static int64_t storageType() { return 2; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<CoreStorageStatCollectorItem>(); };
    }
    std::string statType() const override { return "corestorage"; }
    // The multi-line listing; empty while there are no groups.
    std::string description() const override;

    void fetchDisks();
    std::shared_ptr<CoreStorageStatCollectorItem> groupWithKey(const std::string& key);
};

}  // namespace telvo
