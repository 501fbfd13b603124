// The MacBook Air model tables, "MacBookAir1,1" to "MacBookAir7,2": each model's facts, release text and sensor
// rows in table order (the first row of a key listed twice is the one the sensors collector
// uses), handed to the registry by the family hook.
#include "platforms/PlatformModelList.h"

namespace telvo::platforms {
namespace {

// ---- MacBookAir1,1
constexpr SensorRow kMacBookAir1_1Sensors[] = {
    {"IB0R", "Battery Rail"},
    {"ID0R", "DC In Rail"},
    {"IG0C", "CPU Core"},
    {"Ic0R", "Sensor Rail"},
    {"TB0T", "Battery Thermal Diode 0"},
    {"TB1T", "Battery Thermal Diode 1"},
    {"TB2T", "Battery Thermal Diode 2"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU Proximity"},
    {"Th0H", "Heat Pipe Heatsink"},
    {"Tp0P", "Power Supply"},
    {"Ts0P", "Skin"},
    {"TW0P", "Airport"},
    {"VC0C", "CPU Core"},
    {"VD0R", "DC In Rail"},
    {"VG0C", "GPU Core"},
    {"VP0R", "PBus Rail"},
    {"ALSL", "Ambient Light Sensor", 0, 100},
    {"F0Ac", "Exhaust", 2500, 6200},
};

constexpr PlatformModel kMacBookAir1_1 = {
    .className = "MacBookAir1_1",
    .identifier = "MacBookAir1,1",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 2048,
    .memorySlots = 0,
    .icon = "macbookair.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Early 2008"),
    .sensors = kMacBookAir1_1Sensors,
};

// ---- MacBookAir2,1
constexpr SensorRow kMacBookAir2_1Sensors[] = {
    {"IB0R", "Battery Rail"},
    {"ID0R", "DC In Rail"},
    {"IN0C", "MCP Core"},
    {"Ic0R", "Sensor Rail"},
    {"TB0T", "Battery Thermal Diode 0"},
    {"TB1T", "Battery Thermal Diode 1"},
    {"TB2T", "Battery Thermal Diode 2"},
    {"TC0D", "CPU Die"},
    {"Th0P", "CPU Proximity"},
    {"Th0H", "Heat Pipe Heatsink"},
    {"TN0D", "MCD Die"},
    {"Tp0P", "Power Supply Proximity"},
    {"Tp1P", "Logic Board Front Edge"},
    {"Ts0P", "Skin"},
    {"TV0P", "Air Vent Exit"},
    {"TW0P", "Airport"},
    {"VD0R", "DC In Rail"},
    {"VN0C", "MPU Core"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 1800, 6200},
};

constexpr SuffixText kMacBookAir2_1Releases[] = {
    {"9A7", "Mid 2009"}, {"9A5", "Mid 2009"}, {"9A8", "Mid 2009"},
    {"5LA", "Late 2008"}, {"22E", "Late 2008"}, {"22D", "Late 2008"}, {"5L9", "Late 2008"},
};

constexpr PlatformModel kMacBookAir2_1 = {
    .className = "MacBookAir2_1",
    .identifier = "MacBookAir2,1",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 2048,
    .memorySlots = 0,
    .icon = "macbookair.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = variationBySuffix(kMacBookAir2_1Releases),
    .sensors = kMacBookAir2_1Sensors,
};

// ---- MacBookAir3,1
constexpr SensorRow kMacBookAir3_1Sensors[] = {
    {"IB0R", "PBus Rail", 0, 0.3},
    {"ID0R", "DC In Rail", 0.576, 3.2},
    {"IN0C", "MCP Core 0", 1.3, 15},
    {"IN1C", "MCP Core 1", 0.472, 3.5},
    {"IC0r", "CPU Core VTT"},
    {"TB1T", "BMU 1", 10, 50},
    {"TB2T", "BMU 2", 10, 50},
    {"TC0D", "CPU Die", 20, 110},
    {"TC0P", "CPU Proximity", 20, 80},
    {"Th1H", "Fin Stack", 10, 55},
    {"TN0D", "MCP Die Top Side", 20, 100},
    {"TN1D", "MCP Die Top Side", 20, 100},
    {"TN0P", "MCP Proximity", 25, 80},
    {"TM0P", "MCP Proximity", 20, 68},
    {"Tp0P", "Logic Board", 10, 65},
    {"Ts0P", "Logic Board", 10, 50},
    {"VC0C", "CPU VCore", 0.725, 1.1625},
    {"VP0R", "PBus Rail", 7.2, 8.9},
    {"F0Ac", "Exhaust", 2000, 6500},
};

constexpr PlatformModel kMacBookAir3_1 = {
    .className = "MacBookAir3_1",
    .identifier = "MacBookAir3,1",
    .name = "MacBook Air",
    .screenSize = 11,
    .maximumMemory = 4096,
    .memorySlots = 0,
    .icon = "macbookair.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Late 2010"),
    .sensors = kMacBookAir3_1Sensors,
};

// ---- MacBookAir3,2
constexpr SensorRow kMacBookAir3_2Sensors[] = {
    {"IB0R", "PBus Rail", 0, 0.3},
    {"ID0R", "DC In Rail", 0.5, 3.29},
    {"IN0C", "MCP Core 0", 1, 15},
    {"IN1C", "MCP Core 1", 0.3, 1.2},
    {"IC0r", "CPU Core VTT"},
    {"TB1T", "BMU 1", 15, 50},
    {"TB2T", "BMU 2", 15, 50},
    {"TC0D", "CPU Die", 33, 110},
    {"TC0P", "CPU Proximity", 20, 85},
    {"Th1H", "Fin Stack", 15, 49},
    {"TN0D", "MCP Die Top Side", 32, 100},
    {"TN1D", "MCP Die Top Side", 40, 110},
    {"TN0P", "MCP Proximity", 25, 82},
    {"TM0P", "MCP Proximity", 15, 57},
    {"Tp0P", "Logic Board", 15, 55},
    {"Ts0P", "Logic Board", 15, 41},
    {"VC0C", "CPU VCore", 0.725, 1.1625},
    {"VN0C", "MPU VCore", 0.89, 1},
    {"VP0R", "PBus Rail", 7.2, 8.6},
    {"F0Ac", "Exhaust", 2000, 6500},
};

constexpr PlatformModel kMacBookAir3_2 = {
    .className = "MacBookAir3_2",
    .identifier = "MacBookAir3,2",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 0,
    .icon = "macbookair.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Late 2010"),
    .sensors = kMacBookAir3_2Sensors,
};

// ---- MacBookAir4,1
constexpr SensorRow kMacBookAir4_1Sensors[] = {
    {"IB0r", "Charger Rail"},
    {"IC0C", "CPU VCore", 0, 25},
    {"IC1C", "CPU I/O PP1V05", 0, 6},
    {"IC0R", "Chipset INA Highside", 0, 12},
    {"IC1R", "Chipset SMBUS Highside", 0, 12},
    {"ID0R", "DC In Rail", 0, 3.5},
    {"IN0C", "IG GFX VCore", 0, 10},
    {"IM0R", "Memory Power", 0, 10},
    {"Ta0P", "Inlet", 20, 80},
    {"TB0T", "Battery", 10, 50},
    {"TB1T", "BMU 1", 10, 50},
    {"TB2T", "BMU 2", 10, 50},
    {"TC0C", "CPU Die - Digital Core 0", 15, 105},
    {"TC1C", "CPU Die - Digital Core 1", 15, 105},
    {"TC0D", "CPU Die", 10, 110},
    {"TC0P", "CPU Proximity", 20, 87},
    {"Th1H", "Fin Stack", 10, 65},
    {"THSP", "Platform Controller Hub", 10, 65},
    {"TM0P", "Inlet", 20, 75},
    {"Tm0P", "Inlet", 10, 65},
    {"Tm1P", "Inlet", 10, 65},
    {"Ts0P", "Logic Board", 10, 50},
    {"TPCD", "Platform Controller Hub", 15, 100},
    {"PCPC", "CPU Package Core", 0, 33},
    {"PCPG", "CPU Package GPU", 0, 22},
    {"PCPT", "CPU Package Total", 0, 55},
    {"VC0C", "CPU Core", 0.3, 1.23},
    {"VC1R", "CPU Highside", 7.2, 8.9},
    {"VN0C", "Intel GPU VCore", 0, 1.23},
    {"VP0R", "PBus Rail", 7.2, 8.9},
    {"F0Ac", "Exhaust", 2000, 6500},
};

constexpr PlatformModel kMacBookAir4_1 = {
    .className = "MacBookAir4_1",
    .identifier = "MacBookAir4,1",
    .name = "MacBook Air",
    .screenSize = 11,
    .maximumMemory = 4096,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Mid 2011"),
    .sensors = kMacBookAir4_1Sensors,
};

// ---- MacBookAir4,2
constexpr SensorRow kMacBookAir4_2Sensors[] = {
    {"IB0r", "Charger Rail"},
    {"IC0C", "CPU VCore", 0, 25},
    {"IC1C", "CPU I/O PP1V05", 0, 6},
    {"IC0R", "Chipset INA Highside", 0, 12},
    {"IC1R", "Chipset SMBUS Highside", 0, 12},
    {"ID0R", "DC In Rail", 0, 3.5},
    {"IN0C", "IG GFX VCore", 0, 10},
    {"IM0R", "Memory Power", 0, 10},
    {"Ta0P", "Inlet", 20, 80},
    {"TB0T", "Battery", 10, 50},
    {"TB1T", "BMU 1", 10, 50},
    {"TB2T", "BMU 2", 10, 50},
    {"TC0C", "CPU Die - Digital Core 0", 15, 105},
    {"TC1C", "CPU Die - Digital Core 1", 15, 105},
    {"TC0D", "CPU Die", 10, 110},
    {"TC0P", "CPU Proximity", 20, 87},
    {"Th1H", "Fin Stack", 10, 65},
    {"THSP", "Platform Controller Hub", 10, 65},
    {"TM0P", "Inlet", 20, 75},
    {"Tm0P", "Inlet", 10, 65},
    {"Tm1P", "Inlet", 10, 65},
    {"Ts0P", "Logic Board", 10, 50},
    {"TPCD", "Platform Controller Hub", 15, 100},
    {"PCPC", "CPU Package Core", 0, 33},
    {"PCPG", "CPU Package GPU", 0, 22},
    {"PCPT", "CPU Package Total", 0, 55},
    {"VC0C", "CPU Core", 0.3, 1.23},
    {"VC1R", "CPU Highside"},
    {"VN0C", "Intel GPU VCore", 0, 1.23},
    {"VP0R", "PBus Rail", 7.2, 8.9},
    {"F0Ac", "Exhaust", 2000, 6500},
};

constexpr PlatformModel kMacBookAir4_2 = {
    .className = "MacBookAir4_2",
    .identifier = "MacBookAir4,2",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Mid 2011"),
    .sensors = kMacBookAir4_2Sensors,
};

// ---- MacBookAir5,1
constexpr SensorRow kMacBookAir5_1Sensors[] = {
    {"IC0C", "CPU VCore", 0, 25},
    {"IC0R", "Chipset INA Highside", 0, 12},
    {"ID0R", "DC IN Rail AMON", 0, 3.5},
    {"IM0R", "Memory", 0, 10},
    {"IN0C", "IG GFX VCore", 0, 10},
    {"PC0C", "CPU Core", 0, 30.75},
    {"PC0R", "CPU Computing High Side", 0, 106.8},
    {"PCPC", "CPU Package Core", 0, 33},
    {"PCPG", "CPU Package GPU", 0, 22},
    {"PCPT", "CPU Package Total", 0, 55},
    {"PDTR", "DC-in Total", 0, 55.3},
    {"PM0R", "DDR Memory", 0, 15},
    {"PN0C", "Intel GPU Core", 0, 12.3},
    {"TB0T", "Battery", 10, 50},
    {"TB1T", "BMU 1", 10, 50},
    {"TB2T", "BMU 2", 10, 50},
    {"TC0C", "CPU Die - Digital Core 0", 15, 105},
    {"TC0D", "CPU Die", 10, 110},
    {"TC0P", "CPU Proximity", 20, 87},
    {"TC1C", "CPU Die - Digital Core 1", 15, 105},
    {"THSP", "Platform Controller Hub", 10, 65},
    {"TM0P", "Inlet", 20, 75},
    {"TPCD", "Platform Controller Hub", 15, 100},
    {"Ta0P", "Inlet", 20, 80},
    {"Th1H", "Fin Stack", 10, 65},
    {"Tm0P", "Inlet", 10, 65},
    {"Tm1P", "Inlet", 10, 70},
    {"Ts0P", "Logic Board", 10, 50},
    {"VC0C", "CPU VCore", 0, 1.23},
    {"VC2C", "CPU System Agent", 0.6075, 0.99},
    {"VD0R", "DCIN", 13.5, 17.2},
    {"VN0C", "Intel GPU VCore", 0, 1.23},
    {"VP0R", "PBus Rail", 6.4, 8.9},
    {"F0Ac", "Exhaust", 2000, 6500},
    {"PSTR", "System Total"},
    {"PDTR", "DC In"},  // listed again: the first PDTR row stands
};

constexpr PlatformModel kMacBookAir5_1 = {
    .className = "MacBookAir5_1",
    .identifier = "MacBookAir5,1",
    .name = "MacBook Air",
    .screenSize = 11,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Mid 2012"),
    .sensors = kMacBookAir5_1Sensors,
};

// ---- MacBookAir5,2

constexpr PlatformModel kMacBookAir5_2 = {
    .className = "MacBookAir5_2",
    .identifier = "MacBookAir5,2",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Mid 2012"),
    .sensors = kMacBookAir5_1Sensors,  // the MacBookAir5,1 table
};

// ---- MacBookAir6,1
constexpr SensorRow kMacBookAir6_1Sensors[] = {
    {"IC0R", "Chipset INA Highside", 0, 10},
    {"ID0R", "DC IN Rail AMON", 0, 3.5},
    {"IM3C", "DDR S3", 0, 6},
    {"IPB1", "Discrete Battery", 0, 10},
    {"IPBR", "PBus", 0, 10},
    {"ISDC", "SSD", 0, 5},
    {"PB1R", "Discrete BMON", 0, 70},
    {"PC0R", "CPU Computing High Side", 0, 30},
    {"PDTR", "DC In Total", 0, 70},
    {"PM3C", "DDR S3", 0, 20},
    {"PPBR", "PBus", 0, 70},
    {"PSDC", "SSD", 0, 15},
    {"TB0T", "Battery", 10, 50},
    {"TB1T", "BMU 1", 10, 50},
    {"TB2T", "BMU 2", 10, 50},
    {"TC0P", "CPU Proximity", 15, 105},
    {"TCHP", "Charger Proximity", 10, 75},
    {"TCXC", "CPU Core PECI", 15, 120},
    {"THSP", "T29 Proximity", 10, 65},
    {"TM0P", "Memory Proximity", 15, 75},
    {"TPCD", "Platform Controller Hub", 15, 100},
    {"TS2P", "Camera Proximity", 10, 70},
    {"TW0P", "Wireless Proximity", 10, 70},
    {"Ta0P", "Inlet", 10, 65},
    {"Th1H", "Fin Stack", 10, 60},
    {"Tm0P", "Logic Board Top Side", 10, 65},
    {"Ts0P", "Trackpad", 10, 52},
    {"VC1C", "1.05 S0", 0, 1.15},
    {"VCS0", "CPU Core", 0, 1.9},
    {"VD0R", "DC In", 13.5, 17.2},
    {"VP0R", "PBus Rail", 7.2, 8.9},
    {"F0Ac", "Exhaust", 1200, 6500},
    {"PSTR", "System Total"},
    {"PDTR", "DC In"},  // listed again: the first PDTR row stands
};

constexpr PlatformModel kMacBookAir6_1 = {
    .className = "MacBookAir6_1",
    .identifier = "MacBookAir6,1",
    .name = "MacBook Air",
    .screenSize = 11,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},
    .variation = constantVariation("Mid 2013"),
    .sensors = kMacBookAir6_1Sensors,
};

// ---- MacBookAir6,2

constexpr PlatformModel kMacBookAir6_2 = {
    .className = "MacBookAir6_2",
    .identifier = "MacBookAir6,2",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},
    .variation = constantVariation("Mid 2013"),
    .sensors = kMacBookAir6_1Sensors,  // the MacBookAir6,1 table
};

// ---- MacBookAir7,1
constexpr SensorRow kMacBookAir7_1Sensors[] = {
    {"IBAC", "Battery"},
    {"IC0R", "CPU Computing High Side"},
    {"ICS0", "CPU Core"},
    {"ICS1", "CPU Load Current Monitor"},
    {"ID0R", "DC In Rail"},
    {"IM3C", "DDR S3"},
    {"IPB1", "BMON Discrete"},
    {"IPBR", "Battery PBus"},
    {"ISDC", "SSD"},
    {"PC0R", "CPU Computing High Side"},
    {"PCPC", "CPU Package Core"},
    {"PCPG", "CPU Package GPU"},
    {"PCPT", "CPU Package Total"},
    {"PDTR", "DC In Total"},
    {"PPBR", "Battery PBus"},
    {"TB0T", "Battery"},
    {"TB1T", "Battery Sensor 1"},
    {"TB2T", "Battery Sensor 2"},
    {"TC0P", "CPU Proximity"},
    {"TC1C", "CPU Core 1"},
    {"TC2C", "CPU Core 2"},
    {"TCGC", "CPU Gfx Core"},
    {"TCHP", "Charger Proximity"},
    {"TCSA", "CPU System Agent Core"},
    {"THSP", "T29 Proximity"},
    {"TM0P", "Memory Proximity"},
    {"TPCD", "Platform Controller Hub"},
    {"TS2P", "S2 Camera Proximity"},
    {"TW0P", "Wireless Proximity"},
    {"Ta0P", "Air Flow"},
    {"Th1H", "Fin Stack"},
    {"Tm0P", "Logic Board Top Side"},
    {"Ts0P", "Trackpad"},
    {"VC1C", "1.05V S0"},
    {"VCS0", "CPU Core"},
    {"VD0R", "DC In"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 1200, 6500},
    {"PSTR", "System Total"},
    {"PDTR", "DC In"},  // listed again: the first PDTR row stands
};

constexpr PlatformModel kMacBookAir7_1 = {
    .className = "MacBookAir7_1",
    .identifier = "MacBookAir7,1",
    .name = "MacBook Air",
    .screenSize = 11,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},  // no row carries it: no default sensor
    .variation = constantVariation("Mid 2015"),
    .sensors = kMacBookAir7_1Sensors,
};

// ---- MacBookAir7,2

constexpr PlatformModel kMacBookAir7_2 = {
    .className = "MacBookAir7_2",
    .identifier = "MacBookAir7,2",
    .name = "MacBook Air",
    .screenSize = 13,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbookair-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},  // no row carries it: no default sensor
    .variation = constantVariation("Mid 2015"),
    .sensors = kMacBookAir7_1Sensors,  // the MacBookAir7,1 table
};

constexpr const PlatformModel* kModels[] = {
    &kMacBookAir1_1, &kMacBookAir2_1, &kMacBookAir3_1, &kMacBookAir3_2, &kMacBookAir4_1, &kMacBookAir4_2,
    &kMacBookAir5_1, &kMacBookAir5_2, &kMacBookAir6_1, &kMacBookAir6_2, &kMacBookAir7_1, &kMacBookAir7_2,
};

}  // namespace

std::span<const PlatformModel* const> macBookAirModels() { return kModels; }

}  // namespace telvo::platforms
