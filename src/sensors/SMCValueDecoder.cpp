#include "sensors/SMCValueDecoder.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "sensors/SensorSMCController.h"

namespace telvo::smcvalues {
namespace {

std::atomic<bool> gEmulated{false};

enum class Form { SignedFixed, UnsignedFixed, Float, UInt32, UInt16, Flag, UInt8, SInt8, SInt16, SInt32 };

struct Rule {
    const char* type;
    bool prefix;  // the type begins with `type` (else: equals it)
    Form form;
    float divisor;
};

// Tried in order; the first rule that matches decodes. The exact fixed-point types come before
// the prefix rule of their family, which divides by 1.
constexpr Rule kRules[] = {
    {"spe1", false, Form::SignedFixed, 2},        {"spd2", false, Form::SignedFixed, 4},
    {"spc3", false, Form::SignedFixed, 8},        {"spb4", false, Form::SignedFixed, 16},
    {"spa5", false, Form::SignedFixed, 32},       {"sp96", false, Form::SignedFixed, 64},
    {"sp87", false, Form::SignedFixed, 128},      {"sp78", false, Form::SignedFixed, 256},
    {"sp69", false, Form::SignedFixed, 512},      {"sp5a", false, Form::SignedFixed, 1024},
    {"sp4b", false, Form::SignedFixed, 2048},     {"sp3c", false, Form::SignedFixed, 4096},
    {"sp2d", false, Form::SignedFixed, 8192},     {"sp1e", false, Form::SignedFixed, 16384},
    {"sp0f", false, Form::SignedFixed, 32768},    {"sp", true, Form::SignedFixed, 1},
    {"fpf1", false, Form::UnsignedFixed, 2},      {"fpe2", false, Form::UnsignedFixed, 4},
    {"fpd3", false, Form::UnsignedFixed, 8},      {"fpc4", false, Form::UnsignedFixed, 16},
    {"fpb5", false, Form::UnsignedFixed, 32},     {"fpa6", false, Form::UnsignedFixed, 64},
    {"fp97", false, Form::UnsignedFixed, 128},    {"fp88", false, Form::UnsignedFixed, 256},
    {"fp79", false, Form::UnsignedFixed, 512},    {"fp6a", false, Form::UnsignedFixed, 1024},
    {"fp5b", false, Form::UnsignedFixed, 2048},   {"fp4c", false, Form::UnsignedFixed, 4096},
    {"fp3d", false, Form::UnsignedFixed, 8192},   {"fp2e", false, Form::UnsignedFixed, 16384},
    {"fp1f", false, Form::UnsignedFixed, 32768},  {"fp", true, Form::UnsignedFixed, 1},
    {"flt ", false, Form::Float, 1},              {"ui32", false, Form::UInt32, 1},
    {"ui16", false, Form::UInt16, 1},             {"flag", true, Form::Flag, 1},
    {"ui8", true, Form::UInt8, 1},                {"si8", true, Form::SInt8, 1},
    {"si16", false, Form::SInt16, 1},             {"si32", false, Form::SInt32, 1},
};

const Rule* ruleFor(const char* type) {
    const size_t length = strnlen(type, 4);
    for (const Rule& r : kRules) {
        const size_t n = std::strlen(r.type);
        if (r.prefix ? (length >= n && std::memcmp(type, r.type, n) == 0)
                     : (length == n && std::memcmp(type, r.type, n) == 0))
            return &r;
    }
    return nullptr;
}

// Bytes 0 0x80 to 0x84 with byte 1 zero: the SMC's markers, -128 to -124.
bool isMarker(const uint8_t* b) { return b[1] == 0 && b[0] >= 0x80 && b[0] <= 0x84; }

}  // namespace

bool emulatedSMC() { return gEmulated.load(); }
void setEmulatedSMC(bool emulated) { gEmulated.store(emulated); }

float convertData(const SMCResultData& data, int) {
    char type[5] = {};
    std::memcpy(type, data.dataType, 4);
    const Rule* rule = ruleFor(type);
    if (!rule) return -1;
    const uint8_t* b = data.bytes;
    const bool emulated = emulatedSMC();
    switch (rule->form) {
    case Form::SignedFixed: {
        const float quotient = float(int16_t(uint16_t(b[0] << 8 | b[1]))) / rule->divisor;
        if (emulated && data.dataSize == 2) return quotient;
        return isMarker(b) ? float(int8_t(b[0])) : quotient;
    }
    case Form::UnsignedFixed:
        if (isMarker(b)) return float(int8_t(b[0]));
        return float(uint16_t(b[0] << 8 | b[1])) / rule->divisor;
    case Form::Float: {
        float f;
        std::memcpy(&f, b, 4);
        return std::isfinite(f) ? f : -1.0f;
    }
    case Form::UInt32:
        return float(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
    case Form::UInt16:
        return float(uint16_t(b[0] << 8 | b[1]));
    case Form::Flag:
    case Form::UInt8:
        return float(b[0]);
    case Form::SInt8:
        if (emulated && (b[0] & 0x80)) return -float(b[0] & 0x7f);
        return float(int8_t(b[0]));
    case Form::SInt16: {
        const uint16_t raw = uint16_t(b[0] << 8 | b[1]);
        if (emulated && (raw & 0x8000)) return -float(raw & 0x7fff);
        return float(int16_t(raw));
    }
    case Form::SInt32: {
        const uint32_t raw = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
        if (emulated && (raw & 0x80000000u)) return -float(raw & 0x7fffffffu);
        return float(int32_t(raw));
    }
    }
    return -1;
}

double valueForSMCKey(const std::string& key, SMCResultData* data) {
    SMCResultData local;
    SMCResultData& d = data ? *data : local;
    SensorSMCController::sharedSMC().dataForKey(key, d);
    return convertData(d, 0);
}

}  // namespace telvo::smcvalues
