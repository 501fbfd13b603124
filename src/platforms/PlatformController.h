#pragma once
// PlatformController: the platform registry. Made once (under a once-guard) on the first
// currentPlatform(): it notes whether the registry has a "FakeSMC" service, reads the model
// identifier (the DMI product name), turns "," into "_" and instantiates the platform class of
// that exact, case-sensitive name among the registered model tables, "PlatformMac",
// "PlatformiMac", "PlatformMacPro" and "FauxMac" ("FauxMac" whenever FakeSMC is present); an
// unknown or missing identifier gives the generic PlatformMac. Model tables are registered
// before the first use (the daemon hands over src/platforms' list); tests register fixtures.
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platforms/PlatformMac.h"
#include "platforms/PlatformModel.h"

namespace telvo {

class PlatformController {
public:
    // The platform object, making the controller on first use.
    static PlatformMacPtr currentPlatform();
    // The controller; null until currentPlatform() has run once.
    static PlatformController* sharedPlatformController();
    // Whether the identifier names a portable ("macbook..." in lower case).
    static bool isLaptop();
    // The machine's model identifier: the DMI product name, trimmed, when it is 1 to 128
    // bytes of printable ASCII; none otherwise.
    static std::optional<std::string> readModelIdentifier();

    // Adds model tables to the lookup (a class name given twice keeps the first table).
    static void registerModels(std::span<const PlatformModel* const> models);
    // The registered table of that class name; null when none.
    static const PlatformModel* registeredModel(const std::string& className);
    // Drops the controller and the registered tables.
    static void resetForTesting();

    // The identifier read when the controller was made.
    const std::optional<std::string>& modelIdentifier() const { return modelIdentifier_; }
    const PlatformMacPtr& currentPlatformObject() const { return platform_; }
    // Whether the SMC is an emulation (a FakeSMC service was present).
    bool fauxMac() const { return faux_; }

    // The platform object for a class name (exposed for tests of the lookup).
    static PlatformMacPtr platformForClassName(const std::string& className);

private:
    PlatformController();
    void loadCurrentPlatform();

    std::optional<std::string> modelIdentifier_;
    PlatformMacPtr platform_;
    bool faux_ = false;
};

}  // namespace telvo
