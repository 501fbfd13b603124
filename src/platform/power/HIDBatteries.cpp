// Bluetooth HID batteries from /sys/class/power_supply.
#include "platform/power/HIDBatteries.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/host/ProcRoot.h"

namespace telvo::power {

namespace {

namespace fsys = std::filesystem;

const char* const kClassFolder = "/sys/class/power_supply";
constexpr unsigned kBusBluetooth = 0x0005;
constexpr unsigned kKeyA = 30, kKeyZ = 44, kBtnLeft = 0x110, kBtnToolFinger = 0x145;
constexpr unsigned kRelX = 0, kRelY = 1, kAbsX = 0, kAbsY = 1, kAbsMTPositionX = 0x35;

// A capability bitmap as sysfs writes it: hexadecimal words of the machine's long, most
// significant first, separated by blanks.
bool hasBit(const std::string& bitmap, unsigned bit) {
    std::vector<std::string> words;
    std::istringstream in(bitmap);
    for (std::string w; in >> w;) words.push_back(w);
    const unsigned wordBits = sizeof(unsigned long) * 8;
    const size_t index = bit / wordBits;
    if (index >= words.size()) return false;
    const std::string& word = words[words.size() - 1 - index];
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(word.c_str(), &end, 16);
    if (errno != 0 || end == word.c_str() || *end != '\0') return false;
    return (value >> (bit % wordBits)) & 1UL;
}

// The kernel path below "/" of a host path under the fixture root.
std::string kernelPath(const fsys::path& host) {
    std::error_code ec;
    std::string root = fsys::weakly_canonical(host::ProcRoot::root(), ec).string();
    if (ec) root = host::ProcRoot::root();
    std::string s = host.string();
    if (root != "/" && s.compare(0, root.size(), root) == 0) s.erase(0, root.size());
    return s;
}

// "KEY=value" lines of a uevent file.
std::string ueventValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "";
}

}  // namespace

std::vector<HIDBattery> HIDBatteries::read() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fsys::directory_iterator(host::ProcRoot::path(kClassFolder), ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());

    std::vector<HIDBattery> out;
    for (const std::string& name : names) {
        const std::string base = std::string(kClassFolder) + "/" + name + "/";
        if (attributes_.text(base + "type").value_or("") != "Battery") continue;
        if (attributes_.text(base + "scope").value_or("") != "Device") continue;
        // The supply's parent: the HID device.
        const fsys::path device = fsys::weakly_canonical(host::ProcRoot::path(base + "device"), ec);
        if (ec) continue;
        const std::string devicePath = kernelPath(device);
        const std::string uevent = attributes_.text(devicePath + "/uevent").value_or("");
        const std::string hidID = ueventValue(uevent, "HID_ID");
        unsigned bus = 0;
        if (hidID.empty() || std::sscanf(hidID.c_str(), "%x:", &bus) != 1 || bus != kBusBluetooth) continue;

        HIDBattery b;
        b.supply = name;
        b.name = attributes_.nonBlankText(base + "model_name");
        if (std::string product = ueventValue(uevent, "HID_NAME"); !product.empty()) b.product = product;
        b.capacity = attributes_.integer(base + "capacity");
        const std::string status = attributes_.text(base + "status").value_or("Unknown");
        if (status == "Charging" || status == "Full") b.charging = true;
        else if (status == "Discharging" || status == "Not charging") b.charging = false;

        // The input devices the HID device made: address, name and kind.
        std::vector<std::string> inputs;
        for (const auto& e : fsys::directory_iterator(device / "input", ec)) inputs.push_back(e.path().filename().string());
        std::sort(inputs.begin(), inputs.end());
        for (const std::string& input : inputs) {
            const std::string in = devicePath + "/input/" + input + "/";
            if (b.address.empty())
                if (auto uniq = attributes_.nonBlankText(in + "uniq")) b.address = *uniq;
            if (!b.hardwareName) b.hardwareName = attributes_.nonBlankText(in + "name");
            const std::string key = attributes_.text(in + "capabilities/key").value_or("");
            const std::string rel = attributes_.text(in + "capabilities/rel").value_or("");
            const std::string abs = attributes_.text(in + "capabilities/abs").value_or("");
            if (hasBit(key, kKeyA) && hasBit(key, kKeyZ)) b.keyboard = true;
            if (hasBit(rel, kRelX) && hasBit(rel, kRelY) && hasBit(key, kBtnLeft)) b.mouse = true;
            if (hasBit(abs, kAbsX) && hasBit(abs, kAbsY) && (hasBit(key, kBtnToolFinger) || hasBit(abs, kAbsMTPositionX)))
                b.trackpad = true;
        }
        if (b.address.empty()) b.address = ueventValue(uevent, "HID_UNIQ");
        if (b.address.empty()) continue;
        out.push_back(std::move(b));
    }
    return out;
}

}  // namespace telvo::power
