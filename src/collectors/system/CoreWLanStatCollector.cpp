// The Wi-Fi interface factory.
#include "collectors/system/CoreWLanStatCollector.h"

#include <mutex>

#include "collectors/framework/SharedCollector.h"

namespace telvo {

namespace {
std::mutex gLookupMutex;
CoreWLanStatCollector::Lookup gLookup;
}  // namespace

std::shared_ptr<CoreWLanStatCollector> CoreWLanStatCollector::sharedCoreWlanCollector() {
    return SharedCollector<CoreWLanStatCollector>::get([] { return std::make_shared<CoreWLanStatCollector>(); });
}

void CoreWLanStatCollector::resetForTesting() {
    SharedCollector<CoreWLanStatCollector>::drop();
    setLookupForTesting(nullptr);
}

void CoreWLanStatCollector::setLookupForTesting(Lookup lookup) {
    std::lock_guard<std::mutex> lock(gLookupMutex);
    gLookup = std::move(lookup);
}

CoreWLanStatCollector::CoreWLanStatCollector() : StatCollector(0) {
    setQueue(dispatch::Queue::createSerial(description()));
}

std::shared_ptr<wifi::WifiInterface> CoreWLanStatCollector::interfaceWithBSD(const std::string& bsd) const {
    Lookup lookup;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        lookup = gLookup;
    }
    std::optional<wifi::WifiInterface> found = lookup ? lookup(bsd) : wifi::interfaceWithName(bsd);
    if (!found) return nullptr;
    return std::make_shared<wifi::WifiInterface>(std::move(*found));
}

}  // namespace telvo
