#pragma once
// PlatformMac: what is known about this machine. The base of every platform: with a model table
// it answers the model's identifier, name, facts, sensor table, default sensor keys and release
// text; without one (the generic platform) it answers "Unknown", an empty table and the default
// sensor rule. Table-free facts live here too: operating-system version, processor brand,
// installed memory, serial number and its suffix, fan display names, the Ethernet address and
// the two graphics flags. PlatformiMac and PlatformMacPro only set a flag.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"
#include "platforms/PlatformModel.h"

namespace telvo {

class PlatformMac {
public:
    // The generic platform.
    PlatformMac();
    // The platform of a model table (the table outlives the platform: tables are static).
    explicit PlatformMac(const PlatformModel& model);
    virtual ~PlatformMac() = default;
    PlatformMac(const PlatformMac&) = delete;
    PlatformMac& operator=(const PlatformMac&) = delete;

    // The model table, or null for the generic and emulated platforms.
    const PlatformModel* model() const { return model_; }
    // The class name the registry found ("MacBookPro13_2", "PlatformMac", "FauxMac").
    virtual std::string className() const;

    // ---- Model facts (the model table's, else the generic answers)
    // The model identifier with its comma; generic: the machine's identifier, else "Unknown".
    virtual std::string identifier() const;
    virtual std::string name() const;
    virtual double maximumMemory() const;
    virtual int64_t memorySlots() const;
    virtual std::string icon() const;
    // Inches; none for the generic platform.
    virtual std::optional<double> screenSize() const;
    // Sensor entries: dictionaries with "key", "name", "low", "high", or for a computed power
    // entry "key", "name", "type" "watts" and "multiply" [voltage key, current key].
    virtual ValueArray supportedSensors() const;
    // The model's keys; generic: the first "T" key named "CPU Die...", else "CPU...", else none.
    virtual std::vector<std::string> defaultSensorKeys() const;
    // The release text; none for the generic platform or a suffix the model does not list.
    virtual std::optional<std::string> variationName() const;

    // ---- Machine facts
    // "%d.%d.%d" of the operating-system version record.
    std::string osVersion() const;
    // The processor's brand string ("" when it cannot be read).
    std::string cpu() const;
    // Processor frequency in whole megahertz ("" when unknown).
    std::string cpuSpeed() const;
    // Online logical processors; 0 above 64.
    static int64_t cpuCoreCount();
    // Installed memory in bytes, in decimal ("0" when it cannot be read).
    std::string memory() const;
    bool isSSLSupported() const { return true; }
    // The platform serial number; none without one (or without the right to read it).
    static std::optional<std::string> serial();
    // The serial-number suffix: "" below 5 characters, the last 3 of 11, else the last 4.
    static std::string variation();
    static std::string variationOfSerial(const std::optional<std::string>& serial);
    // The display name of a fan's SMC identifier; the identifier itself when not in the table.
    std::string nameForFan(const std::string& fanIdentifier) const;
    // The platform's "board-id" as text ("" when absent).
    std::string boardID() const;
    // The permanent address of the lowest-index Ethernet interface ("%02X:" six times).
    std::optional<std::string> networkHardwareAdress() const;
    // Fills manufactureYear/Week from a serial (11 or more characters without "System").
    void decodeSerial(const std::optional<std::string>& serial);
    void decodeSerial() { decodeSerial(serial()); }

    bool hideIntergratedGraphics() const { return hideIntergratedGraphics_; }
    bool ignoreGraphicsControl() const { return ignoreGraphicsControl_; }
    const Value& memorySlotInfo() const { return memorySlotInfo_; }
    void setMemorySlotInfo(Value v) { memorySlotInfo_ = std::move(v); }
    int64_t manufactureWeek() const { return manufactureWeek_; }
    int64_t manufactureYear() const { return manufactureYear_; }

protected:
    // The generic default-key rule over a sensor table.
    static std::vector<std::string> genericDefaultSensorKeys(const ValueArray& sensors);

    const PlatformModel* model_ = nullptr;
    bool hideIntergratedGraphics_ = false;
    bool ignoreGraphicsControl_ = false;
    Value memorySlotInfo_;
    int64_t manufactureWeek_ = 0;
    int64_t manufactureYear_ = 0;
};

// The base of every iMac: integrated graphics hidden.
class PlatformiMac : public PlatformMac {
public:
    PlatformiMac() { hideIntergratedGraphics_ = true; }
    explicit PlatformiMac(const PlatformModel& model) : PlatformMac(model) { hideIntergratedGraphics_ = true; }
    std::string className() const override { return model_ ? PlatformMac::className() : "PlatformiMac"; }
};

// The base of every Mac Pro: graphics control ignored.
class PlatformMacPro : public PlatformMac {
public:
    PlatformMacPro() { ignoreGraphicsControl_ = true; }
    explicit PlatformMacPro(const PlatformModel& model) : PlatformMac(model) { ignoreGraphicsControl_ = true; }
    std::string className() const override { return model_ ? PlatformMac::className() : "PlatformMacPro"; }
};

using PlatformMacPtr = std::shared_ptr<PlatformMac>;

}  // namespace telvo
