#include "platforms/FauxMac.h"

#include <cmath>

#include "foundation/ServerLog.h"
#include "platform/values/Format.h"
#include "sensors/SMCValueDecoder.h"
#include "sensors/SensorSMCController.h"

namespace telvo {
namespace {

std::string replaceHex(const std::string& text, int64_t number) {
    std::string out = text;
    size_t at = out.find("%@");
    if (at != std::string::npos) out.replace(at, 2, format("%llX", static_cast<long long>(number)));
    return out;
}

void addFixed(std::map<std::string, std::string>& names, std::initializer_list<const char*> keys, const char* name) {
    for (const char* k : keys) names[k] = name;
}

}  // namespace

void FauxMac::addSensorGroup(std::map<std::string, std::string>& names, const std::string& keyFormat,
                             const std::string& nameFormat, int32_t limit, int64_t offset, int64_t nameOffset) {
    for (int32_t i = 0; i < limit; ++i) names[replaceHex(keyFormat, offset + i)] = replaceHex(nameFormat, nameOffset + i);
}

std::map<std::string, std::string> FauxMac::sensorNames() {
    std::map<std::string, std::string> n;
    auto group = [&n](const char* k, const char* name, int32_t limit, int64_t offset, int64_t nameOffset) {
        addSensorGroup(n, k, name, limit, offset, nameOffset);
    };
    // Temperatures.
    addFixed(n, {"TA0P", "TA0p"}, "Ambient");
    addFixed(n, {"Th0H", "TC0H", "TCAH"}, "CPU Heatsink");
    addFixed(n, {"TC0P"}, "CPU Proximity");
    addFixed(n, {"TCXC"}, "PECI CPU");
    addFixed(n, {"TCSC"}, "PECI SA");
    addFixed(n, {"TCGC"}, "PECI GPU");
    addFixed(n, {"TN0D"}, "Northbridge Die");
    addFixed(n, {"TN0P"}, "Northbridge Proximity");
    addFixed(n, {"TN0C"}, "MCH Die");
    addFixed(n, {"TN0H"}, "MCH Heatsink");
    addFixed(n, {"TP0D", "TPCD", "TP0P"}, "Platform Controller Hub");
    addFixed(n, {"Tm0P"}, "Mainboard");
    addFixed(n, {"TL0p"}, "LCD Proximity");
    addFixed(n, {"TW0P"}, "Airport Proximity");
    addFixed(n, {"Tp0P"}, "Power Supply Proximity");
    addFixed(n, {"TO0P"}, "Optical Drive");
    addFixed(n, {"TG0D"}, "GPU Die");
    addFixed(n, {"TG0H"}, "GPU Heatsink");
    addFixed(n, {"TG0P"}, "GPU Proximity");
    addFixed(n, {"TG0M"}, "GPU Memory");
    addFixed(n, {"TCPC"}, "CPU Core Package");
    group("TC%@D", "CPU Die %@", 8, 0, 1);
    group("TC%@D", "CPU %@", 2, 10, 1);
    group("TC%@H", "CPU %@ Heatsink", 1, 1, 2);
    group("Th%@H", "CPU %@ Heatsink", 1, 1, 2);
    group("TC%@P", "CPU %@ Proximity", 1, 1, 2);
    group("TN%@D", "Northbridge %@ Die", 1, 1, 2);
    group("TN%@P", "Northbridge %@ Proximity", 1, 1, 2);
    group("TM%@P", "Memory Bank %@", 8, 0, 1);
    group("TM%@S", "Memory Module %@", 8, 0, 1);
    group("TMA%@", "Memory Slot %@", 4, 1, 0);
    group("TMB%@", "Memory Slot %@", 4, 1, 4);
    group("TH%@P", "HDD Bay %@", 8, 0, 1);
    group("TG%@D", "GPU %@ Die", 3, 1, 2);
    group("TG%@H", "GPU %@ Heatsink", 3, 1, 2);
    group("TG%@P", "GPU %@ Proximity", 3, 1, 2);
    group("TG%@M", "GPU %@ Memory", 3, 1, 2);
    group("Te%@S", "PCIe SLot %@", 4, 1, 2);
    group("TZ%@C", "Thermal Zone %@", 15, 0, 1);
    // Multipliers.
    addFixed(n, {"MlCP", "MPkC"}, "CPU Package Multiplier");
    group("MlC%@", "CPU Core %@", 8, 0, 1);
    group("MC%@C", "CPU Core %@", 8, 0, 1);
    // Clocks.
    addFixed(n, {"CCPC"}, "CPU Package");
    addFixed(n, {"CG0C"}, "GPU Core");
    addFixed(n, {"CG0S"}, "GPU Shader");
    addFixed(n, {"CG0R"}, "GPU ROP");
    addFixed(n, {"CG0M"}, "GPU Memory");
    group("CC%@C", "CPU Core %@", 8, 0, 1);
    group("CG%@C", "GPU %@ Core", 4, 1, 2);
    group("CG%@M", "GPU %@ Memory", 4, 1, 2);
    group("CG%@S", "GPU %@ Shader", 4, 1, 2);
    group("CG%@R", "GPU %@ ROP", 4, 1, 2);
    // Voltages.
    addFixed(n, {"VC0C"}, "CPU");
    addFixed(n, {"VM0R"}, "Memory");
    addFixed(n, {"VN0C"}, "MCP Core");
    addFixed(n, {"VV2S"}, "Main 3.3V");
    addFixed(n, {"VV7S"}, "Auxiliary 3.3V");
    addFixed(n, {"VV1S"}, "Main 5V");
    addFixed(n, {"VV8S"}, "Standby 5V");
    addFixed(n, {"VV9S"}, "Main 12V");
    addFixed(n, {"VeES"}, "PCIe 12V");
    addFixed(n, {"VP0R"}, "CMOS Battery");
    addFixed(n, {"VC0G"}, "GPU");
    addFixed(n, {"VG0R"}, "GPU Rail");
    addFixed(n, {"VV1R"}, "Power Supply 12V");
    addFixed(n, {"VD0R"}, "DC In S0 Rail");
    addFixed(n, {"VD5R"}, "DC In S5 Rail");
    group("VC%@C", "CPU %@ Core", 8, 1, 2);
    group("VC%@C", "CPU %@", 2, 10, 1);
    group("VC%@G", "GPU %@ Core", 4, 1, 2);
    group("VG%@R", "GPU %@ Rail", 4, 1, 2);
    group("VS%@C", "VRM Supply %@", 15, 0, 1);
    group("Vp%@C", "Power Supply %@", 15, 0, 1);
    // Currents.
    addFixed(n, {"IC0C"}, "CPU Core");
    addFixed(n, {"IC0G"}, "GPU Core");
    addFixed(n, {"IM0R"}, "Memory Core");
    addFixed(n, {"IW0E"}, "Airport");
    group("IC%@C", "CPU %@ Core", 1, 1, 2);
    // Powers.
    addFixed(n, {"PC0C", "PCAC"}, "CPU Core");
    addFixed(n, {"PC1R"}, "CPU Rail");
    addFixed(n, {"PC5R"}, "CPU 1.5V S0 Rail");
    addFixed(n, {"PN0C"}, "Northbridge");
    addFixed(n, {"PM0R"}, "Memory Rail");
    addFixed(n, {"PC0G"}, "GPU Core");
    addFixed(n, {"PG0R"}, "GPU Rail");
    addFixed(n, {"PCPC"}, "CPU Package Cores");
    addFixed(n, {"PCPG"}, "CPU Package Graphics");
    addFixed(n, {"PCTR", "PCPT"}, "CPU Package Total");
    addFixed(n, {"PCPD"}, "CPU Package DRAM");
    group("PC%@C", "CPU %@ Core", 1, 1, 2);
    group("PC%@C", "CPU %@ Core", 1, 10, 2);
    group("PM%@S", "DIMM Riser %@ 12V", 2, 10, 1);
    group("Pe%@S", "PCIe Slot %@ +12V", 4, 1, 1);
    group("Pe%@s", "PCIe Slot Boost %@ +12V", 2, 10, 1);
    group("Pp%@C", "Power Supply %@", 2, 0, 1);
    return n;
}

ValueArray FauxMac::supportedSensors() const {
    ValueArray out;
    const std::map<std::string, std::string> names = sensorNames();
    SMCResultData data;
    double count = smcvalues::valueForSMCKey("#KEY", &data);
    if (!(count > 0)) return out;  // none, absent (-1) or not a number
    if (count > kMaximumKeyCount) {
        ServerLog("SMC reports %.0f keys; reading the first %d", count, kMaximumKeyCount);
        count = kMaximumKeyCount;
    }
    SensorSMCController& smc = SensorSMCController::sharedSMC();
    const int total = static_cast<int>(count);
    for (int index = 0; index < total; ++index) {
        smc::SMCParamStruct in, reply;
        in.data8 = smc::kSMCGetKeyFromIndex;
        in.data32 = static_cast<uint32_t>(index);
        smc.processInput(in, reply);
        std::string key;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const char ch = static_cast<char>((reply.key >> shift) & 0xff);
            if (ch == '\0') break;
            key += ch;
        }
        if (key.size() != 4) continue;
        SMCResultData value;
        smc.dataForKey(key, value);
        if (!smcvalues::isDataValid(value, 0)) continue;
        auto named = names.find(key);
        if (named == names.end()) continue;
        ValueDictionary entry;
        entry["key"] = Value(key);
        entry["name"] = Value(named->second);
        entry["low"] = Value(0);
        entry["high"] = Value(0);
        out.emplace_back(std::move(entry));
    }
    return out;
}

}  // namespace telvo
