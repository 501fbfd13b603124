// The SMC value decoder, case by case from its data types.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sensors/SMCValueDecoder.h"

using namespace telvo;

namespace {

SMCResultData record(const char* type, std::vector<uint8_t> bytes, uint32_t size = 2) {
    SMCResultData d;
    std::memcpy(d.dataType, type, std::min<size_t>(std::strlen(type), 4));
    if (!bytes.empty()) std::memcpy(d.bytes, bytes.data(), bytes.size());
    d.dataSize = size;
    return d;
}

struct Case {
    const char* type;
    std::vector<uint8_t> bytes;
    uint32_t size;
    float real;      // on a real SMC
    float emulated;  // on an emulated SMC
};

class Emulation : public ::testing::Test {
protected:
    void TearDown() override { smcvalues::setEmulatedSMC(false); }
};

TEST_F(Emulation, DecodesEveryTypeOnRealAndEmulatedSMCs) {
    const Case cases[] = {
        {"sp78", {0x1E, 0x80}, 2, 30.5f, 30.5f},
        {"sp78", {0xFF, 0x00}, 2, -1.0f, -1.0f},
        {"sp78", {0x80, 0x00}, 2, -128.0f, -128.0f},
        {"sp78", {0x84, 0x00}, 2, -124.0f, -124.0f},
        {"sp78", {0x80, 0x00}, 4, -128.0f, -128.0f},  // the emulator's exception needs size 2
        {"spe1", {0x80, 0x00}, 2, -128.0f, -16384.0f},
        {"sp4c", {0x01, 0x00}, 2, 256.0f, 256.0f},  // not in the list: divides by 1
        {"sp0f", {0x40, 0x00}, 2, 0.5f, 0.5f},
        {"fpe2", {0x0B, 0xB8}, 2, 750.0f, 750.0f},
        {"fp88", {0x81, 0x00}, 2, -127.0f, -127.0f},  // a marker, not 129
        {"fp1f", {0x80, 0x01}, 2, 32769.0f / 32768.0f, 32769.0f / 32768.0f},
        {"fpzz", {0x00, 0x07}, 2, 7.0f, 7.0f},
        {"flt ", {0x00, 0x00, 0x80, 0x3F}, 4, 1.0f, 1.0f},
        {"ui16", {0x01, 0x00}, 2, 256.0f, 256.0f},
        {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4, 4294967296.0f, 4294967296.0f},
        {"ui8 ", {0xFE}, 1, 254.0f, 254.0f},
        {"flag", {0x01}, 1, 1.0f, 1.0f},
        {"si8 ", {0xFB}, 1, -5.0f, -123.0f},
        {"si16", {0x80, 0x05}, 2, -32763.0f, -5.0f},
        {"si32", {0xFF, 0xFF, 0xFF, 0xFE}, 4, -2.0f, -2147483646.0f},
        {"ch8*", {0x41, 0x42}, 2, -1.0f, -1.0f},
        {"", {}, 0, -1.0f, -1.0f},
        {"si1", {0x01}, 1, -1.0f, -1.0f},
    };
    for (const Case& c : cases) {
        smcvalues::setEmulatedSMC(false);
        EXPECT_FLOAT_EQ(smcvalues::convertData(record(c.type, c.bytes, c.size)), c.real) << c.type << " real";
        smcvalues::setEmulatedSMC(true);
        EXPECT_FLOAT_EQ(smcvalues::convertData(record(c.type, c.bytes, c.size), 1), c.emulated) << c.type << " emulated";
    }
}

TEST_F(Emulation, NonFiniteFloatsReadAsAbsent) {
    const float values[] = {NAN, INFINITY, -INFINITY};
    for (float f : values) {
        std::vector<uint8_t> b(4);
        std::memcpy(b.data(), &f, 4);
        EXPECT_EQ(smcvalues::convertData(record("flt ", b, 4)), -1.0f) << f;
    }
}

TEST_F(Emulation, EveryRecordIsValid) { EXPECT_TRUE(smcvalues::isDataValid(SMCResultData{}, 0)); }

}  // namespace
