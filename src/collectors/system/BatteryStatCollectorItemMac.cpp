// Reading power-source descriptions and smart-battery properties into a battery item.
#include "collectors/system/BatteryStatCollectorItemMac.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

constexpr double kDelaySeconds = 10.0;

// The text with one leading blank removed.
std::string withoutLeadingBlank(const std::string& s) { return !s.empty() && s[0] == ' ' ? s.substr(1) : s; }

}  // namespace

void BatteryStatCollectorItemMac::processIOPS(const Value& d) {
    // 1. Name.
    if (!name && d.has("Name")) name = withoutLeadingBlank(d["Name"].stringValue());
    // 2. Percentage, taken as it stands, clamped.
    if (d.has("Current Capacity")) percentage = float(std::clamp<int64_t>(d["Current Capacity"].intValue(), 0, 100));
    // 3. Condition.
    const std::string healthWord = d["BatteryHealth"].stringValue();
    if (healthWord == "Poor") condition = 1;
    else if (healthWord == "Fair") condition = 2;
    else if (healthWord == "Good") condition = 3;
    else if (healthWord == "Check Battery") condition = 4;
    const std::string healthCondition = d["BatteryHealthCondition"].stringValue();
    if (healthCondition == "Check Battery") condition = 4;
    else if (healthCondition == "Permanent Battery Failure") condition = 5;
    // 4. Source, state and time.
    int64_t newSource, newState;
    int64_t newTime = time;
    if (!d.has("Power Source State")) {
        newSource = -1;
        newState = 0;
    } else if (d["Power Source State"].stringValue() == "AC Power") {
        newSource = 1;
        if (d.has("Is Charged") && d["Is Charged"].intValue() == 1) {
            newTime = -2;
            newState = 0;
        } else if (d["Is Charging"].intValue() != 0) {
            const int64_t toFull = d["Time to Full Charge"].intValue();
            newTime = toFull >= 0 ? toFull : -1;
            newState = 1;
        } else {
            newTime = -1;
            newState = 3;
        }
        if (!d.has("Time to Full Charge")) newTime = -3;
    } else {
        newSource = 0;
        newState = 2;
        if (!d.has("Time to Empty")) {
            newTime = 0;
        } else {
            const int64_t toEmpty = d["Time to Empty"].intValue();
            newTime = toEmpty >= 0 ? toEmpty : -1;
        }
    }
    time = newTime;
    // 5. When the source changed.
    if (newSource != source) {
        source = newSource;
        if (!externalSourceTime) sourceTime = platform::Clock::now();
    }
    // 6. Electrical values.
    if (d.has("Voltage")) voltage = float(d["Voltage"].doubleValue());
    if (d.has("Current")) amperage = float(d["Current"].doubleValue());
    // 7. A full external source reports nothing to do.
    if (type == 1 && percentage == 100.0f) newState = 0;
    // 8. The hold after a change into charging or discharging.
    if (newState != state && !firstUpdate) {
        if (newState == 1 || newState == 2) {
            const uint64_t generation = ++delayGeneration_;
            std::weak_ptr<BatteryStatCollectorItemMac> weak = weak_from_this();
            dispatch::Queue::main()->after(kDelaySeconds, [weak, generation] {
                auto self = weak.lock();
                if (self && self->delayGeneration_ == generation) self->cancelDelay();
            });
            delay = true;
        } else {
            ++delayGeneration_;
            delay = false;
        }
    }
    if (delay) time = -1;
    // 9.
    state = newState;
}

void BatteryStatCollectorItemMac::processSmart(const Value& p) {
    if (!name) name = std::string("Internal Battery");
    if (manufactureTime == 0 && p.has("ManufactureDate")) {
        const int64_t packed = p["ManufactureDate"].intValue();
        std::tm t{};
        t.tm_mday = int(packed & 0x1F);
        t.tm_mon = int((packed >> 5) & 0xF) - 1;
        t.tm_year = int(1980 + ((packed >> 9) & 0x7F)) - 1900;
        t.tm_isdst = -1;
        const std::time_t midnight = std::mktime(&t);
        if (midnight != std::time_t(-1)) manufactureTime = double(midnight);
    }
    // A battery that reports no capacities has no health (rather than a not-a-number one
    // that would differ from itself on every sample).
    if (p.has("DesignCapacity") && p.has("MaxCapacity")) {
        designCapacity = float(p["DesignCapacity"].doubleValue());
        maximumCapacity = float(p["MaxCapacity"].doubleValue());
        float h = designCapacity == 0 ? 100.0f : maximumCapacity / designCapacity * 100.0f;
        if (!std::isfinite(h) || h > 100.0f) h = 100.0f;
        health = h;
    }
    if (p.has("CycleCount")) cycles = p["CycleCount"].intValue();
    if (p.has("Amperage")) amperage = float(p["Amperage"].doubleValue());
    if (p.has("Voltage")) voltage = float(p["Voltage"].doubleValue());
}

void BatteryStatCollectorItemMac::processBattery(const Value& properties, int64_t kind) {
    if (kind == 0) processSmart(properties);
    else processIOPS(properties);
}

void BatteryStatCollectorItemMac::addIOPSInfo(const Value& d) {
    double p = d["Current Capacity"].doubleValue();
    if (std::isnan(p)) p = 0;
    percentage = float(std::clamp(p, 0.0, 100.0));
}

void BatteryStatCollectorItemMac::updateWithIdentifier(double sampleID) {
    addSample(Value(ValueDictionary{{"percentage", Value(double(percentage))},
                                    {"source", Value(source)},
                                    {"state", Value(state)},
                                    {"sample", Value(sampleID)},
                                    {"time", Value(platform::Clock::now())}}),
              0);
    firstUpdate = false;
}

void BatteryStatCollectorItemMac::cancelDelay() { delay = false; }

}  // namespace telvo
