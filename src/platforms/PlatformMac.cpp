#include "platforms/PlatformMac.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "foundation/KXRVersions.h"
#include "platform/host/MemoryStatistics.h"
#include "platform/host/ProcRoot.h"
#include "platform/host/ProcessorTopology.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"
#include "platform/values/Format.h"
#include "platforms/PlatformController.h"

namespace telvo {
namespace {

Value sensorEntry(const SensorRow& row) {
    ValueDictionary d;
    d["key"] = Value(row.key ? row.key : "");
    d["name"] = Value(row.name ? row.name : "");
    if (row.multiplyVoltage || row.multiplyCurrent) {
        d["type"] = Value("watts");
        ValueArray keys;
        if (row.multiplyVoltage) keys.push_back(Value(row.multiplyVoltage));
        if (row.multiplyCurrent) keys.push_back(Value(row.multiplyCurrent));
        d["multiply"] = Value(std::move(keys));
    } else {
        d["low"] = Value(row.low);
        d["high"] = Value(row.high);
    }
    return Value(std::move(d));
}

const char* suffixText(std::span<const SuffixText> table, const std::string& suffix) {
    for (const SuffixText& s : table)
        if (s.suffix && suffix == s.suffix) return s.text;
    return nullptr;
}

registry::EntryRef platformExpert() {
    auto registry = registry::Registry::shared();
    if (!registry) return nullptr;
    auto found = registry->matchingServices(registry::Registry::serviceMatching("IOPlatformExpertDevice"));
    return found.empty() ? nullptr : found.front();
}

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

}  // namespace

PlatformMac::PlatformMac() = default;

PlatformMac::PlatformMac(const PlatformModel& model) : model_(&model) {
    hideIntergratedGraphics_ = model.hideIntergratedGraphics;
}

std::string PlatformMac::className() const { return model_ ? model_->className : "PlatformMac"; }

std::string PlatformMac::identifier() const {
    if (model_) return model_->identifier;
    PlatformController* c = PlatformController::sharedPlatformController();
    if (c && c->modelIdentifier()) return *c->modelIdentifier();
    return "Unknown";
}

std::string PlatformMac::name() const {
    if (!model_) return "Unknown";
    if (model_->alternateName && !model_->alternateNameSuffixes.empty()) {
        const std::string suffix = variation();
        for (const char* s : model_->alternateNameSuffixes)
            if (s && suffix == s) return model_->alternateName;
    }
    return model_->name;
}

double PlatformMac::maximumMemory() const { return model_ ? model_->maximumMemory : 0.0; }
int64_t PlatformMac::memorySlots() const { return model_ ? model_->memorySlots : 0; }
std::string PlatformMac::icon() const { return model_ && model_->icon ? model_->icon : ""; }

std::optional<double> PlatformMac::screenSize() const {
    if (!model_) return std::nullopt;
    return model_->screenSize;
}

ValueArray PlatformMac::supportedSensors() const {
    ValueArray out;
    if (!model_) return out;
    out.reserve(model_->sensors.size());
    for (const SensorRow& row : model_->sensors) out.push_back(sensorEntry(row));
    return out;
}

std::vector<std::string> PlatformMac::genericDefaultSensorKeys(const ValueArray& sensors) {
    for (const char* prefix : {"CPU Die", "CPU"})
        for (const Value& e : sensors) {
            const std::string& key = e["key"].string();
            const std::string& name = e["name"].string();
            if (key.rfind("T", 0) == 0 && name.rfind(prefix, 0) == 0) return {key};
        }
    return {};
}

std::vector<std::string> PlatformMac::defaultSensorKeys() const {
    if (!model_) return genericDefaultSensorKeys(supportedSensors());
    std::vector<std::string> keys;
    for (const char* k : model_->defaultSensorKeys)
        if (k) keys.emplace_back(k);
    return keys;
}

std::optional<std::string> PlatformMac::variationName() const {
    if (!model_) return std::nullopt;
    switch (model_->variation.kind) {
    case ModelVariation::Kind::None:
        return std::nullopt;
    case ModelVariation::Kind::Constant:
        if (!model_->variation.text) return std::nullopt;
        return std::string(model_->variation.text);
    case ModelVariation::Kind::BySuffix:
        if (const char* t = suffixText(model_->variation.bySuffix, variation())) return std::string(t);
        return std::nullopt;
    }
    return std::nullopt;
}

std::string PlatformMac::osVersion() const {
    const KXRVersions& v = KXRVersions::sharedVersions();
    return format("%d.%d.%d", int(v.major()), int(v.minor()), int(v.bugfix()));
}

std::string PlatformMac::cpu() const {
    std::ifstream in(host::ProcRoot::path("/proc/cpuinfo"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t b = line.find_first_not_of(" \t", colon + 1);
        return b == std::string::npos ? "" : line.substr(b, 127);
    }
    return "";
}

std::string PlatformMac::cpuSpeed() const {
    std::string khz = readLine(host::ProcRoot::path("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"));
    if (khz.empty()) return "";
    char* end = nullptr;
    long long v = std::strtoll(khz.c_str(), &end, 10);
    if (end == khz.c_str() || v <= 0) return "";
    return format("%lld", v / 1000);
}

int64_t PlatformMac::cpuCoreCount() {
    const host::ProcessorTopology t = host::readProcessorTopology();
    return t.logical > 64 ? 0 : t.logical;
}

std::string PlatformMac::memory() const {
    uint64_t bytes = 0;
    host::MemoryStatisticsReader reader;
    reader.readMemorySize(bytes);
    return format("%lld", static_cast<long long>(bytes));
}

std::optional<std::string> PlatformMac::serial() {
    registry::EntryRef expert = platformExpert();
    if (!expert) return std::nullopt;
    const Value& s = expert->property("IOPlatformSerialNumber");
    if (!s.isString()) return std::nullopt;
    return s.string();
}

std::string PlatformMac::variationOfSerial(const std::optional<std::string>& serial) {
    if (!serial || serial->size() < 5) return "";
    const size_t keep = serial->size() == 11 ? 3 : 4;
    return serial->substr(serial->size() - keep);
}

std::string PlatformMac::variation() { return variationOfSerial(serial()); }

std::string PlatformMac::nameForFan(const std::string& fan) const {
    static const std::map<std::string, std::string> kNames = {
        {"IO", "HD/Expansion"},
        {"EXHAUST", "Exhaust"},
        {"PS", "Power Supply"},
        {"CPU_MEM", "CPU Fan"},
        {"Leftside", "Left Fan"},
        {"Rightside", "Right Fan"},
        {"Master", "Main Fan"},
        {"ODD", "Optical Drive"},
        {"CPU", "CPU Fan"},
        {"HDD", "Hard Drive"},
        {"INTAKE", "Intake"},
        {"PCI", "Expansion Slots"},
        {"BOOSTA", "Booster 1"},
        {"BOOSTB", "Booster 2"},
        {"IN0", "CPU 1 Inlet"},
        {"IN1", "CPU 2 Inlet"},
        {"IN2", "CPU 3 Inlet"},
        {"IN3", "CPU 4 Inlet"},
        {"IN4", "FB-DIMM 1 Inlet"},
        {"IN5", "FB-DIMM 2 Inlet"},
        {"IN6", "FB-DIMM 3 Inlet"},
        {"OUT0", "CPU 1 Outlet"},
        {"OUT1", "CPU 2 Outlet"},
        {"OUT2", "CPU 3 Outlet"},
        {"OUT3", "CPU 4 Outlet"},
        {"OUT4", "FB-DIMM 1 Outlet"},
        {"OUT5", "FB-DIMM 2 Outlet"},
        {"OUT6", "FB-DIMM 3 Outlet"},
        {"PS0IN", "Power Supply 1 Inlet"},
        {"PS1IN", "Power Supply 2 Inlet"},
        {"PS0OUT", "Power Supply 1 Outlet"},
        {"PS1OUT", "Power Supply 2 Outlet"},
    };
    auto it = kNames.find(fan);
    return it == kNames.end() ? fan : it->second;
}

std::string PlatformMac::boardID() const {
    registry::EntryRef expert = platformExpert();
    if (!expert) return "";
    const Value& v = expert->property("board-id");
    if (v.isData()) return std::string(v.bytes().begin(), v.bytes().end());
    return v.stringValue();
}

std::optional<std::string> PlatformMac::networkHardwareAdress() const {
    namespace stdfs = std::filesystem;
    const std::string netFolder = registry::sysfsRoot() + "/class/net";
    std::error_code ec;
    long bestIndex = -1;
    std::string bestName;
    for (const auto& entry : stdfs::directory_iterator(netFolder, ec)) {
        const std::string dir = entry.path().string();
        if (readLine(dir + "/type") != "1") continue;  // ARPHRD_ETHER
        long index = std::atol(readLine(dir + "/ifindex").c_str());
        if (index <= 0 || (bestIndex >= 0 && index >= bestIndex)) continue;
        bestIndex = index;
        bestName = entry.path().filename().string();
    }
    if (bestIndex < 0) return std::nullopt;

    unsigned char mac[6] = {};
    bool found = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && bestName.size() < IFNAMSIZ) {
        alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + 32] = {};
        auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
        request->cmd = ETHTOOL_GPERMADDR;
        request->size = 32;
        struct ifreq ifr = {};
        std::memcpy(ifr.ifr_name, bestName.c_str(), bestName.size());
        ifr.ifr_data = reinterpret_cast<char*>(buffer);
        if (::ioctl(fd, SIOCETHTOOL, &ifr) == 0 && request->size == 6) {
            std::memcpy(mac, buffer + sizeof(ethtool_perm_addr), 6);
            for (unsigned char b : mac) found = found || b != 0;
        }
    }
    if (fd >= 0) ::close(fd);
    if (!found) {
        // Without a permanent address from the driver, the current one when it is the hardware's.
        const std::string dir = netFolder + "/" + bestName;
        if (readLine(dir + "/addr_assign_type") != "0") return std::nullopt;
        unsigned v[6];
        if (std::sscanf(readLine(dir + "/address").c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5]) != 6)
            return std::nullopt;
        for (int i = 0; i < 6; ++i) mac[i] = static_cast<unsigned char>(v[i]);
    }
    return format("%02X:%02X:%02X:%02X:%02X:%02X", int(mac[0]), int(mac[1]), int(mac[2]), int(mac[3]), int(mac[4]),
                  int(mac[5]));
}

void PlatformMac::decodeSerial(const std::optional<std::string>& serial) {
    if (!serial || serial->size() < 11 || serial->find("System") != std::string::npos) return;
    const std::string& s = *serial;
    if (s.size() == 11) {
        if (!std::isdigit(static_cast<unsigned char>(s[2]))) return;
        manufactureYear_ = s[2] - '0';
        std::string week = s.substr(3, 2);
        if (week[0] == '0') week = s.substr(4, 1);
        manufactureWeek_ = std::atol(week.c_str());
        return;
    }
    static const std::map<char, const char*> kYears = {
        {'C', "10"}, {'D', "10+"}, {'F', "11"}, {'G', "11+"}, {'H', "12"}, {'J', "12+"},
        {'K', "13"}, {'L', "13+"}, {'M', "14"}, {'N', "14+"}, {'P', "15"}, {'Q', "15+"},
        {'R', "16"}, {'S', "16+"}, {'T', "17"}, {'V', "17+"}, {'X', "18"}, {'Y', "18+"}};
    static const std::map<char, int> kWeeks = {
        {'1', 1},  {'2', 2},  {'3', 3},  {'4', 4},  {'5', 5},  {'6', 6},  {'7', 7},  {'8', 8},  {'9', 9},
        {'C', 10}, {'D', 11}, {'F', 12}, {'G', 13}, {'H', 14}, {'J', 15}, {'K', 16}, {'L', 17}, {'M', 18},
        {'N', 19}, {'P', 20}, {'Q', 21}, {'R', 22}, {'T', 23}, {'V', 24}, {'W', 25}, {'X', 26}, {'Y', 27}};
    auto year = kYears.find(s[3]);
    auto week = kWeeks.find(s[4]);
    if (year == kYears.end() || week == kWeeks.end()) return;
    manufactureWeek_ = week->second;
    manufactureYear_ = std::atol(year->second);
    if (std::strchr(year->second, '+')) manufactureWeek_ += 27;
}

}  // namespace telvo
