#pragma once
// CoreWLanStatCollector: in the daemon only the factory of the Wi-Fi interface object for a
// BSD name (its network name and base station, over nl80211). It keeps no values and no
// history, is never started nor served; the scanner its name stands for is left out.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "collectors/framework/StatCollector.h"
#include "platform/wifi/Nl80211.h"

namespace telvo {

class CoreWLanStatCollector : public StatCollector {
public:
    using Lookup = std::function<std::optional<wifi::WifiInterface>(const std::string& bsd)>;

    static std::shared_ptr<CoreWLanStatCollector> sharedCoreWlanCollector();
    static void resetForTesting();
    // Tests: the lookup behind interfaceWithBSD (null: nl80211).
    static void setLookupForTesting(Lookup lookup);

    CoreWLanStatCollector();
    std::string description() const override { return "CoreWLanStatCollector"; }

    // The Wi-Fi interface of that name, or null when it is not Wi-Fi.
    std::shared_ptr<wifi::WifiInterface> interfaceWithBSD(const std::string& bsd) const;

    bool scanningActive() const { return false; }
    void startScanning() {}
    void scan() {}
    void stopScanning() { setEnabled(false); }
};

}  // namespace telvo
