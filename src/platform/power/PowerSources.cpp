// Power-source descriptions from /sys/class/power_supply.
#include "platform/power/PowerSources.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/host/ProcRoot.h"

namespace telvo::power {

namespace {

const char* const kClassFolder = "/sys/class/power_supply";

std::vector<std::string> supplyNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(host::ProcRoot::path(kClassFolder), ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Minutes from a quantity left and a rate of the same unit per hour; -1 without a rate.
int64_t minutes(double left, double ratePerHour) {
    if (!(ratePerHour > 0) || !(left >= 0)) return -1;
    return int64_t(std::llround(left / ratePerHour * 60.0));
}

}  // namespace

PowerSourcesSnapshot PowerSources::read() {
    PowerSourcesSnapshot out;
    struct Supply {
        std::string name, type;
    };
    std::vector<Supply> sources;
    bool anyMains = false, mainsOnline = false;
    for (const std::string& name : supplyNames()) {
        const std::string base = std::string(kClassFolder) + "/" + name + "/";
        auto type = attributes_.text(base + "type");
        if (!type) continue;
        if (*type == "Mains" || *type == "USB" || *type == "Wireless") {
            anyMains = true;
            if (attributes_.integer(base + "online").value_or(0) != 0) mainsOnline = true;
        } else if (*type == "Battery") {
            if (attributes_.text(base + "scope").value_or("") == "Device") continue;
            if (attributes_.integer(base + "present").value_or(1) == 0) continue;
            sources.push_back({name, *type});
        } else if (*type == "UPS") {
            sources.push_back({name, *type});
        }
    }

    for (const Supply& s : sources) {
        const std::string base = std::string(kClassFolder) + "/" + s.name + "/";
        auto read = [&](const char* attribute) { return attributes_.integer(base + attribute); };
        const bool ups = s.type == "UPS";
        Value d{ValueDictionary{}};
        Value smart{ValueDictionary{}};
        d.set("Power Source ID", Value(s.name));
        d.set("Type", Value(ups ? "UPS" : "InternalBattery"));
        d.set("Transport Type", Value(ups ? "USB" : "Internal"));
        d.set("Is Present", Value(true));
        d.set("Max Capacity", Value(100));
        if (auto model = attributes_.nonBlankText(base + "model_name")) d.set("Name", Value(*model));
        if (auto serial = attributes_.nonBlankText(base + "serial_number")) d.set("Hardware Serial Number", Value(*serial));

        // Energy (µWh, µW) where the driver reports it, else charge (µAh, µA).
        std::optional<int64_t> now = read("energy_now"), full = read("energy_full"), design = read("energy_full_design"),
                               rate = read("power_now");
        if (!now && !full) {
            now = read("charge_now");
            full = read("charge_full");
            design = read("charge_full_design");
            rate = read("current_now");
        }
        if (auto capacity = read("capacity")) {
            d.set("Current Capacity", Value(*capacity));
        } else if (now && full && *full > 0) {
            d.set("Current Capacity", Value(int64_t(std::llround(double(*now) / double(*full) * 100.0))));
        }

        const std::string status = attributes_.text(base + "status").value_or("Unknown");
        const bool charging = status == "Charging", discharging = status == "Discharging";
        const bool full_ = status == "Full", notCharging = status == "Not charging";
        // A battery's state follows the machine's mains supplies where it has any; a UPS, or a
        // machine that lists none, by the battery's own status.
        std::optional<bool> onAC;
        if (!ups && anyMains) onAC = mainsOnline;
        else if (discharging) onAC = false;
        else if (charging || full_ || notCharging) onAC = true;
        if (onAC) d.set("Power Source State", Value(*onAC ? "AC Power" : "Battery Power"));
        d.set("Is Charging", Value(charging));
        d.set("Is Charged", Value(full_));

        const double rateMagnitude = rate ? std::fabs(double(*rate)) : 0.0;
        if (full_ || notCharging) {
            d.set("Time to Full Charge", Value(0));
        } else if (charging) {
            if (auto seconds = read("time_to_full_now")) d.set("Time to Full Charge", Value(*seconds / 60));
            else if (now && full) d.set("Time to Full Charge", Value(minutes(double(*full - *now), rateMagnitude)));
            else d.set("Time to Full Charge", Value(-1));
        } else {
            d.set("Time to Full Charge", Value(-1));
        }
        if (discharging) {
            if (auto seconds = read("time_to_empty_now")) d.set("Time to Empty", Value(*seconds / 60));
            else if (now) d.set("Time to Empty", Value(minutes(std::fabs(double(*now)), rateMagnitude)));
            else d.set("Time to Empty", Value(-1));
        }

        if (auto microvolts = read("voltage_now")) {
            d.set("Voltage", Value(*microvolts / 1000));
            smart.set("Voltage", Value(*microvolts / 1000));
        }
        if (auto microamps = read("current_now")) {
            int64_t milliamps = std::llabs(*microamps) / 1000;
            if (discharging) milliamps = -milliamps;
            d.set("Current", Value(milliamps));
            smart.set("Amperage", Value(milliamps));
        }

        if (!ups) {
            if (auto cycles = read("cycle_count")) smart.set("CycleCount", Value(*cycles));
            if (full) smart.set("MaxCapacity", Value(*full / 1000));
            if (design) smart.set("DesignCapacity", Value(*design / 1000));
            auto year = read("manufacture_year"), month = read("manufacture_month"), day = read("manufacture_day");
            if (year && month && day && *year >= 1980 && *year < 1980 + 128 && *month >= 1 && *month <= 12 &&
                *day >= 1 && *day <= 31)
                smart.set("ManufactureDate", Value(((*year - 1980) << 9) | (*month << 5) | *day));
            out.smartBatteries.push_back(std::move(smart));
        }
        out.descriptions.push_back(std::move(d));
    }
    return out;
}

}  // namespace telvo::power
