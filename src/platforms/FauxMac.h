#pragma once
// FauxMac: the platform of a machine whose SMC is an emulation (FakeSMC). It has no model
// table; its sensor table is built on each request by walking the SMC's keys by index and
// keeping every key its built-in name table (243 keys) names. Everything else is PlatformMac's.
#include <map>
#include <string>

#include "platforms/PlatformMac.h"

namespace telvo {

class FauxMac : public PlatformMac {
public:
    // Most keys walked; a larger "#KEY" is clamped (with a log line).
    static constexpr int kMaximumKeyCount = 10000;

    std::string className() const override { return "FauxMac"; }
    std::string identifier() const override { return "FauxMac"; }
    std::string name() const override { return "FauxMac"; }
    double maximumMemory() const override { return 0.0; }
    int64_t memorySlots() const override { return 0; }
    std::string icon() const override { return "imac-unibody.png"; }
    std::optional<double> screenSize() const override { return 0.0; }
    ValueArray supportedSensors() const override;
    // The generic rule over the walked table.
    std::vector<std::string> defaultSensorKeys() const override { return genericDefaultSensorKeys(supportedSensors()); }

    // The name table: SMC key -> display name.
    static std::map<std::string, std::string> sensorNames();
    // Adds `limit` keys: the formats' "%@" replaced by the "%X" text of offset + i and
    // nameOffset + i.
    static void addSensorGroup(std::map<std::string, std::string>& names, const std::string& keyFormat,
                               const std::string& nameFormat, int32_t limit, int64_t offset, int64_t nameOffset);
};

}  // namespace telvo
