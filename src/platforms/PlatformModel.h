#pragma once
// The shape of one Mac model's table: a compact constant record per model (the class name the
// registry finds it by, identifier, display name, facts, base family, default sensor keys,
// release text, sensor rows). Model tables are `constexpr PlatformModel` values in the family
// files under src/platforms/<Family>/, handed to the registry by the family's hook (see
// PlatformModelList.h).
#include <array>
#include <cstdint>
#include <span>

namespace telvo {

// The class a model derives from: every iMac from PlatformiMac (integrated graphics hidden),
// every Mac Pro from PlatformMacPro (graphics control ignored), the others from PlatformMac.
enum class PlatformBase { Mac, iMac, MacPro };

// One row of a model's sensor table. A fan row uses the fan's speed key ("F0Ac") or its SMC
// identifier text ("Leftside") as its key and its speed range in RPM as low and high. A computed
// power row ("type" "watts") names its voltage and current keys and has no limits; make it with
// powerRow().
struct SensorRow {
    const char* key;
    const char* name;
    double low = 0;
    double high = 0;
    const char* multiplyVoltage = nullptr;
    const char* multiplyCurrent = nullptr;
};

constexpr SensorRow powerRow(const char* key, const char* name, const char* voltageKey, const char* currentKey) {
    return SensorRow{key, name, 0, 0, voltageKey, currentKey};
}

// A serial-number suffix and the text it selects.
struct SuffixText {
    const char* suffix;
    const char* text;
};

// The model's release text ("Mid 2010"): none, one constant, or chosen by the serial-number
// suffix (none when the suffix is not listed).
struct ModelVariation {
    enum class Kind { None, Constant, BySuffix };
    Kind kind = Kind::None;
    const char* text = nullptr;
    std::span<const SuffixText> bySuffix = {};
};

constexpr ModelVariation noVariation() { return {}; }
constexpr ModelVariation constantVariation(const char* text) { return {ModelVariation::Kind::Constant, text, {}}; }
constexpr ModelVariation variationBySuffix(std::span<const SuffixText> table) {
    return {ModelVariation::Kind::BySuffix, nullptr, table};
}

struct PlatformModel {
    const char* className;   // "MacBookPro13_2": the registry's exact, case-sensitive key
    const char* identifier;  // "MacBookPro13,2"
    const char* name;        // "MacBook Pro"
    double screenSize;       // inches; 0 without a screen
    double maximumMemory;    // megabytes
    int64_t memorySlots;
    const char* icon;        // image file name
    PlatformBase base;
    std::array<const char*, 2> defaultSensorKeys;  // one or two keys; an unused slot is null
    ModelVariation variation;
    std::span<const SensorRow> sensors;
    // The specials: a Mac mini whose integrated graphics are hidden (Macmini5_2), and a display
    // name chosen by serial-number suffix (iMac16_2: `alternateName` for those suffixes).
    bool hideIntergratedGraphics = false;
    std::span<const char* const> alternateNameSuffixes = {};
    const char* alternateName = nullptr;
};

}  // namespace telvo
