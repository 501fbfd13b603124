#pragma once
// Three small model tables for tests, in the shape the model tables use: a portable with a
// power entry, a key listed twice, fan rows keyed by speed key and by identifier text and names
// holding "&"; an iMac with two default keys, release texts by serial suffix and a display name
// chosen by suffix; a Mac Pro.
#include <array>

#include "platforms/PlatformModel.h"

namespace telvo::fixtures {

inline constexpr SensorRow kMacBookPro13_2Sensors[] = {
    {"TC0P", "CPU Proximity"},
    {"TC0D", "CPU Die"},
    {"TG0D", "GPU Die"},
    {"TB0T", "Battery"},  // the fake SMC reads 254 there
    {"TC0P", "CPU Proximity Again", 10, 90},
    {"Th1H", "Left Heat Pipe & Fin Stack Proximity"},
    {"VC1C", "1.2V (CPU & Memory)"},
    {"IC0R", "CPU Current", 0, 0},
    powerRow("PD0R", "DC In", "VD0R", "ID0R"),
    {"F0Ac", "Fan", 1200, 6000},
    {"Leftside", "Left Side", 1300, 6200},
    {"TC0", "Short Key"},
    {"FNum", "Fan Count"},
};

inline constexpr PlatformModel kMacBookPro13_2 = {
    .className = "MacBookPro13_2",
    .identifier = "MacBookPro13,2",
    .name = "MacBook Pro",
    .screenSize = 13.3,
    .maximumMemory = 16384,
    .memorySlots = 0,
    .icon = "macbookpro-retina.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0P", nullptr},
    .variation = constantVariation("Retina & Touch Bar, Late 2016"),
    .sensors = kMacBookPro13_2Sensors,
};

inline constexpr SensorRow kiMac16_2Sensors[] = {
    {"TC0H", "CPU Heatsink"},
    {"TG0H", "GPU Heatsink"},
    {"F0Ac", "Main Fan", 1200, 2700},
};
inline constexpr SuffixText kiMac16_2Variations[] = {{"GG7F", "Retina 4K, Late 2015"}, {"GF1J", "Late 2015"}};
inline constexpr const char* kiMac16_2RetinaSuffixes[] = {"GG7F", "GG7C", "GG78", "GG7H"};

inline constexpr PlatformModel kiMac16_2 = {
    .className = "iMac16_2",
    .identifier = "iMac16,2",
    .name = "iMac",
    .screenSize = 21.5,
    .maximumMemory = 16384,
    .memorySlots = 2,
    .icon = "imac-unibody.png",
    .base = PlatformBase::iMac,
    .defaultSensorKeys = {"TC0H", "TG0H"},
    .variation = variationBySuffix(kiMac16_2Variations),
    .sensors = kiMac16_2Sensors,
    .hideIntergratedGraphics = false,
    .alternateNameSuffixes = kiMac16_2RetinaSuffixes,
    .alternateName = "iMac with Retina 4K Display",
};

inline constexpr SensorRow kMacPro5_1Sensors[] = {{"TA0P", "Ambient"}};

inline constexpr PlatformModel kMacPro5_1 = {
    .className = "MacPro5_1",
    .identifier = "MacPro5,1",
    .name = "Mac Pro",
    .screenSize = 0,
    .maximumMemory = 65536,
    .memorySlots = 8,
    .icon = "macpro.png",
    .base = PlatformBase::MacPro,
    .defaultSensorKeys = {"TA0P", nullptr},
    .variation = noVariation(),
    .sensors = kMacPro5_1Sensors,
};

inline constexpr std::array<const PlatformModel*, 3> kFixtureModels = {&kMacBookPro13_2, &kiMac16_2, &kMacPro5_1};

}  // namespace telvo::fixtures
