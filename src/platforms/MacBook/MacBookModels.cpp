// The MacBook model tables, "MacBook1,1" to "MacBook10,1": each model's facts, release text and sensor
// rows in table order (the first row of a key listed twice is the one the sensors collector
// uses), handed to the registry by the family hook.
#include "platforms/PlatformModelList.h"

namespace telvo::platforms {
namespace {

// ---- MacBook1,1
constexpr SensorRow kMacBook1_1Sensors[] = {
    {"IC0C", "CPU I-Sense"},
    {"ID0R", "DC I-Sense"},
    {"IN0R", "Northbridge I-Sense"},
    {"IN1R", "Northbridge I-Sense"},
    {"IP0R", "PBus I-Sense"},
    {"PC0C", "CPU Core"},
    {"PD0R", "DC In Rail"},
    {"PN0R", "Northbridge Rail"},
    {"PP0R", "PBus Rail"},
    {"TB0T", "Battery"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU VR Area"},
    {"TM0P", "FBDIMM Riser Incoming Air"},
    {"TN0P", "NB Proximity"},
    {"TN1P", "NB Proximity"},
    {"Th0H", "NB/CPU/GPU HeatPipe 0"},
    {"Th1H", "NB/CPU/GPU HeatPipe 1"},
    {"Ts0P", "Palm Rest"},
    {"VC0C", "CPU V-Sense"},
    {"VP0R", "PBus V-Sense"},
    {"F0Ac", "Exhaust", 1500, 6200},
};

constexpr PlatformModel kMacBook1_1 = {
    .className = "MacBook1_1",
    .identifier = "MacBook1,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 2048,
    .memorySlots = 2,
    .icon = "macbook-white.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = noVariation(),
    .sensors = kMacBook1_1Sensors,
};

// ---- MacBook2,1
constexpr SensorRow kMacBook2_1Sensors[] = {
    {"IC0C", "CPU"},
    {"ID0R", "DC In"},
    {"IN0R", "Northbridge Rail 0"},
    {"IN1R", "Northbridge Rail 1"},
    {"IP0R", "PBus Rail"},
    {"TB0T", "Battery"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU VR Area"},
    {"TM0P", "FBDIMM Riser Incoming Air"},
    {"TN0P", "NB Proximity"},
    {"TN1P", "NB Proximity"},
    {"Th0H", "NB/CPU/GPU HeatPipe 0"},
    {"Th1H", "NB/CPU/GPU HeatPipe 1"},
    {"VC0C", "CPU Core"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 1800, 6200},
};

constexpr SuffixText kMacBook2_1Releases[] = {
    {"YA5", "Mid 2007"}, {"Z5W", "Mid 2007"}, {"Z5X", "Mid 2007"}, {"YQ8", "Mid 2007"}, {"YA2", "Mid 2007"},
    {"YA7", "Mid 2007"}, {"ZA9", "Mid 2007"}, {"Z5Y", "Mid 2007"}, {"YA3", "Mid 2007"}, {"YA8", "Mid 2007"},
    {"YA4", "Mid 2007"}, {"Z5V", "Mid 2007"}, {"YA9", "Mid 2007"}, {"Z60", "Mid 2007"},
    {"WGK", "Late 2006"}, {"XE1", "Late 2006"}, {"WGP", "Late 2006"}, {"WGU", "Late 2006"},
    {"WGL", "Late 2006"}, {"WGQ", "Late 2006"}, {"WGM", "Late 2006"}, {"X98", "Late 2006"},
    {"WGN", "Late 2006"},
};

constexpr PlatformModel kMacBook2_1 = {
    .className = "MacBook2_1",
    .identifier = "MacBook2,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 2048,
    .memorySlots = 2,
    .icon = "macbook-white.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = variationBySuffix(kMacBook2_1Releases),
    .sensors = kMacBook2_1Sensors,
};

// ---- MacBook3,1
constexpr SensorRow kMacBook3_1Sensors[] = {
    {"IC0C", "CPU"},
    {"ID0R", "DC In"},
    {"IG0C", "GPU Core"},
    {"IN0R", "Northbridge Rail 1"},
    {"IN1R", "Northbridge Rail 2"},
    {"IP0R", "PBus Rail"},
    {"TB0T", "Battery Thermal Diode"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU Proximity"},
    {"TM0P", "Underneath SODIMM"},
    {"TN0P", "NB Proximity Top Side"},
    {"TW0P", "Airport Proximity"},
    {"Th0H", "HeatPipe Heatsink 0"},
    {"Th1H", "HeatPipe Heatsink 1"},
    {"VC0C", "CPU Core"},
    {"VG0C", "GPU Core"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 1800, 6200},
};

constexpr PlatformModel kMacBook3_1 = {
    .className = "MacBook3_1",
    .identifier = "MacBook3,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-white.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Late 2007"),
    .sensors = kMacBook3_1Sensors,
};

// ---- MacBook4,1
constexpr SensorRow kMacBook4_1Sensors[] = {
    {"IC0C", "CPU"},
    {"ID0R", "DC In"},
    {"IG0C", "GPU Core"},
    {"IN0R", "Northbridge Rail 0"},
    {"IN1R", "Northbridge Rail 1"},
    {"IP0R", "PBus Rail"},
    {"TB0T", "Battery Thermal Diode"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU Proximity"},
    {"TM0P", "Underneath SODIMM"},
    {"TN0P", "NB Proximity Top Side"},
    {"TW0P", "Airport Proximity"},
    {"Th0H", "HeatPipe Heatsink 0"},
    {"Th1H", "HeatPipe Heatsink 1"},
    {"VC0C", "CPU Core"},
    {"VG0C", "GPU Core"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 1800, 6200},
};

constexpr PlatformModel kMacBook4_1 = {
    .className = "MacBook4_1",
    .identifier = "MacBook4,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-white.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Early 2008"),
    .sensors = kMacBook4_1Sensors,
};

// ---- MacBook5,1
constexpr SensorRow kMacBook5_1Sensors[] = {
    {"IC0C", "CPU"},
    {"IC0R", "CPU Core High Side"},
    {"ID0R", "DC In"},
    {"IP0R", "PBus Rail"},
    {"IN1C", "Northbridge Rail"},
    {"TB1T", "Battery Thermal Diode 1"},
    {"TB2T", "Battery Thermal Diode 2"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU Proximity"},
    {"TN0P", "NB Proximity Top Side"},
    {"TN0D", "MCP Die"},
    {"Th0H", "HeatPipe Heatsink"},
    {"Th1H", "Fin Stack"},
    {"VC0C", "CPU Core"},
    {"VP0R", "PBus Rail"},
    {"ALSL", "Ambient Light"},
    {"F0Ac", "Exhaust", 1800, 6200},
};

constexpr PlatformModel kMacBook5_1 = {
    .className = "MacBook5_1",
    .identifier = "MacBook5,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Late 2008"),
    .sensors = kMacBook5_1Sensors,
};

// ---- MacBook5,2

constexpr SuffixText kMacBook5_2Releases[] = {
    {"A1X", "Mid 2009"}, {"9GV", "Mid 2009"}, {"9GU", "Mid 2009"}, {"A9Q", "Mid 2009"},
    {"4R2", "Early 2009"}, {"4R1", "Early 2009"}, {"4R3", "Early 2009"},
};

constexpr PlatformModel kMacBook5_2 = {
    .className = "MacBook5_2",
    .identifier = "MacBook5,2",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-unibody-plastic.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = variationBySuffix(kMacBook5_2Releases),
    .sensors = kMacBook5_1Sensors,  // the MacBook5,1 table
};

// ---- MacBook6,1
constexpr SensorRow kMacBook6_1Sensors[] = {
    {"IB0R", "Battery"},
    {"IC0C", "CPU"},
    {"IC0R", "CPU VCore VTT"},
    {"ID0R", "DC In"},
    {"IN0C", "MCP VCore"},
    {"IN1C", "MCP Memory"},
    {"TB1T", "Battery Thermal Diode 1"},
    {"TB2T", "Battery Thermal Diode 2"},
    {"TC0D", "CPU Die"},
    {"TC0P", "CPU Proximity"},
    {"TH0P", "HDD Flex Area"},
    {"Th1H", "Fin Stack"},
    {"TN0P", "MCP Proximity Top Side"},
    {"TN0D", "MCP Die"},
    {"TN1D", "MCP Die"},
    {"Ts0P", "Palm Rest"},
    {"VC0C", "CPU Core"},
    {"VN0C", "MCP Core"},
    {"VP0R", "PBus Rail"},
    {"F0Ac", "Exhaust", 2000, 6200},
};

constexpr PlatformModel kMacBook6_1 = {
    .className = "MacBook6_1",
    .identifier = "MacBook6,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Late 2009"),
    .sensors = kMacBook6_1Sensors,
};

// ---- MacBook7,1
constexpr SensorRow kMacBook7_1Sensors[] = {
    {"IB0R", "Battery", 0.153, 8.778},
    {"IC0C", "CPU", 0.5916, 30.305},
    {"IC0R", "CPU VCore VTT", 0.0673, 3.6636},
    {"ID0R", "DC In", 0.102, 5.175},
    {"IN0C", "MCP VCore", 0.3528, 18.074},
    {"IN1C", "MCP Memory", 0.073, 3.739},
    {"TB1T", "Battery Thermal Diode 1", 15.3, 70.4},
    {"TB2T", "Battery Thermal Diode 2", 15.3, 70.4},
    {"TC0D", "CPU Die", 15.3, 115.5},
    {"TC0P", "CPU Proximity", 15.3, 93.5},
    {"TH0P", "HDD Flex Area"},
    {"Th1H", "Fin Stack", 15.5, 82.5},
    {"TN0P", "MCP Proximity Top Side", 15.3, 80.3},
    {"TN0D", "MCP Die", 15.3, 110},
    {"TN1D", "MCP Die", 15.3, 110},
    {"Ts0P", "Palm Rest", 15.3, 61.6},
    {"VC0C", "CPU Core", 0.0306, 1.65},
    {"VN0C", "MCP Core", 0.0306, 1.65},
    {"VP0R", "PBus Rail", 9.18, 14.3},
    {"F0Ac", "Exhaust", 2000, 6200},
};

constexpr PlatformModel kMacBook7_1 = {
    .className = "MacBook7_1",
    .identifier = "MacBook7,1",
    .name = "MacBook",
    .screenSize = 13,
    .maximumMemory = 4096,
    .memorySlots = 2,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TC0D", nullptr},
    .variation = constantVariation("Mid 2010"),
    .sensors = kMacBook7_1Sensors,
};

// ---- MacBook8,1
constexpr SensorRow kMacBook8_1Sensors[] = {
    {"IBAC", "Battery"},
    {"IC0R", "CPU Computing High Side"},
    {"ID0R", "DC In"},
    {"IPBF", "Battery Discharge"},
    {"IPBR", "Battery PBus"},
    {"PC0R", "CPU Computing High Side"},
    {"PCPC", "CPU Package Core"},
    {"PCPG", "CPU Package GPU"},
    {"PCPT", "CPU Package Total"},
    {"PDTR", "DC In"},
    {"PPBR", "Battery PBus"},
    {"PSTR", "Total Power"},
    {"TB0T", "Battery"},
    {"TB1T", "Battery Sensor 1"},
    {"TB2T", "Battery Sensor 2"},
    {"TC0P", "CPU Proximity"},
    {"TC1C", "CPU Core 1"},
    {"TC2C", "CPU Core 2"},
    {"TCGC", "CPU Gfx Core"},
    {"TCHP", "Charger Proximity"},
    {"TCSA", "CPU System Agent Core"},
    {"TCXC", "CPU Core PECI"},
    {"TM0P", "Memory Proximity"},
    {"TPCD", "Platform Controller Hub"},
    {"TW0P", "Wireless Proximity"},
    {"Th0N", "SSD"},
    {"Ts0P", "Trackpad"},
    {"VACC", "ACC voltage"},
    {"VCFR", "FIVR CPU Supply"},
    {"VD0R", "DC In"},
    {"VP0R", "PBus Rail"},
};

constexpr PlatformModel kMacBook8_1 = {
    .className = "MacBook8_1",
    .identifier = "MacBook8,1",
    .name = "MacBook",
    .screenSize = 12,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},
    .variation = constantVariation("Retina, Mid 2015"),
    .sensors = kMacBook8_1Sensors,
};

// ---- MacBook9,1
constexpr SensorRow kMacBook9_1Sensors[] = {
    {"IC0R", "CPU Computing High Side"},
    {"ID0R", "DC In"},
    {"IPBR", "Battery PBus"},
    {"PC0R", "CPU Computing High Side"},
    {"PCPC", "CPU Package Core"},
    {"PCPG", "CPU Package GPU"},
    {"PCPT", "CPU Package Total"},
    {"PD0R", "DC In"},
    {"PPBR", "Battery PBus"},
    {"PSTR", "Total Power"},
    {"TB0T", "Battery"},
    {"TB1T", "Battery Sensor 1"},
    {"TB2T", "Battery Sensor 2"},
    {"TC0P", "CPU Proximity"},
    {"TC1C", "CPU Core 1"},
    {"TC2C", "CPU Core 2"},
    {"TCGC", "CPU Gfx Core"},
    {"TCHP", "Charger Proximity"},
    {"TCSA", "CPU System Agent Core"},
    {"TCXC", "CPU Core PECI"},
    {"TM0P", "Memory Proximity"},
    {"TPCD", "Platform Controller Hub"},
    {"TW0P", "Wireless Proximity"},
    {"Th0N", "SSD"},
    {"Ts0P", "Trackpad"},
    {"Ts1P", "Trackpad Actuator"},
    {"VC0C", "CPU Core"},
    {"VCGC", "CPU Vcc Gfx"},
    {"VD0R", "DC In"},
    {"VP0R", "PBus Rail"},
};

constexpr PlatformModel kMacBook9_1 = {
    .className = "MacBook9_1",
    .identifier = "MacBook9,1",
    .name = "MacBook",
    .screenSize = 12,
    .maximumMemory = 8192,
    .memorySlots = 0,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},
    .variation = constantVariation("Retina, Early 2016"),
    .sensors = kMacBook9_1Sensors,
};

// ---- MacBook10,1
constexpr SensorRow kMacBook10_1Sensors[] = {
    {"IC0R", "CPU Computing High Side"},
    {"ID0R", "DC In"},
    {"IPBR", "PBus"},
    {"PC0R", "CPU Computing High Side"},
    {"PCPC", "CPU Core"},
    {"PCPG", "Intel GPU"},
    {"PCPT", "CPU Package"},
    {"PD0R", "DC In"},
    {"PPBR", "PBus"},
    {"PSTR", "Total Power"},
    {"TB0T", "Battery"},
    {"TB1T", "Battery TS1"},
    {"TB2T", "Battery TS2"},
    {"TC0F", "CPU PECI Die"},
    {"TC0P", "CPU Proximity"},
    {"TC1C", "CPU Core 1"},
    {"TC2C", "CPU Core 2"},
    {"TCGC", "Intel GPU Core"},
    {"TCHP", "Charger Proximity"},
    {"TCSA", "CPU System Agent Core"},
    {"TCXC", "CPU Core PECI"},
    {"TM0P", "Memory Proximity"},
    {"TPCD", "Platform Controller Hub Die"},
    {"TW0P", "Wireless Proximity"},
    {"Th0N", "SSD"},
    {"Ts0P", "Trackpad"},
    {"Ts1P", "Trackpad Actuator"},
    {"VC0C", "CPU Core"},
    {"VCGC", "Intel GPU"},
    {"VD0R", "DC In"},
    {"VP0R", "PBus"},
};

constexpr PlatformModel kMacBook10_1 = {
    .className = "MacBook10_1",
    .identifier = "MacBook10,1",
    .name = "MacBook",
    .screenSize = 12,
    .maximumMemory = 16384,
    .memorySlots = 0,
    .icon = "macbook-unibody.png",
    .base = PlatformBase::Mac,
    .defaultSensorKeys = {"TCXC", nullptr},
    .variation = constantVariation("Mid 2017"),
    .sensors = kMacBook10_1Sensors,
};

constexpr const PlatformModel* kModels[] = {
    &kMacBook1_1, &kMacBook2_1, &kMacBook3_1, &kMacBook4_1, &kMacBook5_1, &kMacBook5_2, &kMacBook6_1,
    &kMacBook7_1, &kMacBook8_1, &kMacBook9_1, &kMacBook10_1,
};

}  // namespace

std::span<const PlatformModel* const> macBookModels() { return kModels; }

}  // namespace telvo::platforms
