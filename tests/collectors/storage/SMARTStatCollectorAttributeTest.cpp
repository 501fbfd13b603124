// The SMART attribute record: the byte table of its display formats, the 64-bit hours, and
// the status against the threshold.
#include <gtest/gtest.h>

#include <vector>

#include "collectors/storage/SMARTStatCollectorAttribute.h"

using namespace telvo;

namespace {

struct Reading {
    uint8_t entry[12] = {};
    uint8_t threshold[12] = {};
    Reading(int current, int worst, std::vector<uint8_t> raw, int thresholdValue = 0) {
        entry[0] = 194;
        entry[3] = static_cast<uint8_t>(current);
        entry[4] = static_cast<uint8_t>(worst);
        for (size_t i = 0; i < raw.size() && i < 6; ++i) entry[5 + i] = raw[i];
        threshold[0] = 194;
        threshold[1] = static_cast<uint8_t>(thresholdValue);
    }
};

std::vector<uint8_t> rawOf(uint64_t r) {
    std::vector<uint8_t> raw;
    for (int i = 0; i < 6; ++i) raw.push_back(static_cast<uint8_t>(r >> (8 * i)));
    return raw;
}

}  // namespace

TEST(SMARTAttribute, NewRecordAnswersMinusOne) {
    SMARTStatCollectorAttribute a;
    EXPECT_EQ(a.currentValue().current, -1);
    EXPECT_EQ(a.currentValue().worst, -1);
    EXPECT_EQ(a.currentValue().threshold, -1);
    EXPECT_EQ(a.status(), 0);
    EXPECT_EQ(a.effectiveFormat(), 6);
}

TEST(SMARTAttribute, ByteTableOfTheFormats) {
    struct Case {
        int format;
        int current, worst;
        std::vector<uint8_t> raw;
        const char* text;
        double n;
    };
    const std::vector<uint8_t> sample = {0x34, 0x00, 0x2e, 0x00, 0x0f, 0x00};
    const std::vector<Case> cases = {
        {-1, 100, 90, sample, "52", 52},
        {1, 100, 90, sample, "52 0 46 0 15 0", 0x0f002e0034},
        {2, 100, 90, sample, "15 46 52", 0x0f002e0034},
        {3, 100, 90, {1}, "88676", 0x15a64},  // 0x01 << 16 | 90 << 8 | 100
        {4, 100, 90, sample, "0x000f002e0034", 0x0f002e0034},
        {5, 100, 90, {}, "0x0000000000005a64", 0x5a64},
        {6, 100, 90, {0xff, 0xff, 0x01}, "65535", 65535},
        {7, 100, 90, {0xc7, 0x01}, "45", 455},
        {8, 100, 90, sample, "64427524148", 0x0f002e0034},
        {9, 100, 90, rawOf(7384), "2 hours, 3 minutes", 7384},
        {10, 100, 90, rawOf(61), "1 hours, 1 minutes", 61},
        {11, 100, 90, rawOf(240), "2 hours, 0 minutes", 240},
        // 48-bit raw values: 60 R and 30 R need 64 bits.
        {10, 100, 90, rawOf(0xffffffffffffULL), "4691249611844 hours, 15 minutes", 281474976710655.0},
        {11, 100, 90, rawOf(0x100000000ULL), "35791394 hours, 8 minutes", 4294967296.0},
        {12, 100, 90, sample, "", 0},
    };
    for (const Case& c : cases) {
        SMARTStatCollectorAttribute a;
        a.format = c.format;
        Reading r(c.current, c.worst, c.raw);
        a.updateWithAttribute(r.entry, r.threshold, 1);
        EXPECT_EQ(a.value, c.text) << "format " << c.format;
        EXPECT_EQ(a.lastFormatted, c.n) << "format " << c.format;
    }
}

TEST(SMARTAttribute, StatusAgainstTheThreshold) {
    struct Case {
        int current, worst, threshold, status;
    };
    for (const Case& c : std::vector<Case>{{100, 90, 101, 1}, {100, 90, 95, 2}, {100, 90, 90, 0}, {100, 90, 0, 0}}) {
        SMARTStatCollectorAttribute a;
        Reading r(c.current, c.worst, {}, c.threshold);
        a.updateWithAttribute(r.entry, r.threshold, 1);
        EXPECT_EQ(a.status(), c.status) << c.current << "/" << c.worst << "/" << c.threshold;
        EXPECT_EQ(a.currentValue().threshold, c.threshold);
    }
}

TEST(SMARTAttribute, RawValueKeptAcrossReadings) {
    SMARTStatCollectorAttribute a;
    Reading first(100, 90, {0x22});
    a.updateWithAttribute(first.entry, first.threshold, 1);
    EXPECT_EQ(a.lastRawValue, 0x22);
    a.format = 12;  // a format without a text keeps the last one
    Reading second(100, 90, {0x30});
    a.updateWithAttribute(second.entry, second.threshold, 2);
    EXPECT_EQ(a.value, "34");
    EXPECT_EQ(a.lastRawValue, 0x30);
}
