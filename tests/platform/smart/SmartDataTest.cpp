// The SMART parsers: block checksums, registers in both sense-data formats (and truncated
// ones), IDENTIFY strings and flags, the NVMe health page.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/smart/SmartData.h"

using namespace telvo::smart;

namespace {

std::vector<uint8_t> withChecksum(std::vector<uint8_t> block) {
    block.resize(kBlockSize);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < kBlockSize; ++i) sum = static_cast<uint8_t>(sum + block[i]);
    block[kBlockSize - 1] = static_cast<uint8_t>(-sum);
    return block;
}

void putString(std::vector<uint8_t>& block, size_t word, size_t words, const std::string& text) {
    for (size_t i = 0; i < 2 * words; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        block[2 * word + (i ^ 1)] = static_cast<uint8_t>(c);
    }
}

}  // namespace

TEST(SmartData, BlockChecksum) {
    std::vector<uint8_t> block = withChecksum({0x10, 0x00, 0xc2, 0x22});
    EXPECT_TRUE(validateBlock(block.data(), block.size()));
    block[5] ^= 1;
    EXPECT_FALSE(validateBlock(block.data(), block.size()));
    EXPECT_FALSE(validateBlock(block.data(), 100)) << "a short block";
    EXPECT_FALSE(validateBlock(nullptr, kBlockSize));
}

TEST(SmartData, RegistersFromBothSenseFormatsAndTruncatedOnes) {
    struct Case {
        const char* name;
        std::vector<uint8_t> sense;
        bool found;
        int status;  // smartStatusFromRegisters
    };
    std::vector<uint8_t> descriptor(8 + 14, 0);
    descriptor[0] = 0x72;
    descriptor[7] = 14;
    descriptor[8] = 0x09;
    descriptor[9] = 12;
    descriptor[8 + 9] = 0xf4;
    descriptor[8 + 11] = 0x2c;
    descriptor[8 + 13] = 0x50;
    std::vector<uint8_t> healthyDescriptor = descriptor;
    healthyDescriptor[8 + 9] = 0x4f;
    healthyDescriptor[8 + 11] = 0xc2;
    // Another descriptor (type 0x00, 10 bytes) before the ATA return.
    std::vector<uint8_t> second(8 + 12 + 14, 0);
    second[0] = 0x72;
    second[7] = 26;
    second[8] = 0x00;
    second[9] = 10;
    second[20] = 0x09;
    second[21] = 12;
    second[20 + 9] = 0xf4;
    second[20 + 11] = 0x2c;
    std::vector<uint8_t> fixed(18, 0);
    fixed[0] = 0x70;
    fixed[10] = 0xf4;
    fixed[11] = 0x2c;
    std::vector<uint8_t> fixedHealthy = fixed;
    fixedHealthy[10] = 0x4f;
    fixedHealthy[11] = 0xc2;
    std::vector<uint8_t> truncatedDescriptor(descriptor.begin(), descriptor.begin() + 15);
    std::vector<uint8_t> truncatedFixed(fixed.begin(), fixed.begin() + 11);
    std::vector<uint8_t> lyingLength = descriptor;
    lyingLength[7] = 200;  // more than was returned
    lyingLength.resize(16);
    const std::vector<Case> cases = {
        {"descriptor, exceeded", descriptor, true, 1},
        {"descriptor, healthy", healthyDescriptor, true, 0},
        {"descriptor after another", second, true, 1},
        {"fixed, exceeded", fixed, true, 1},
        {"fixed, healthy", fixedHealthy, true, 0},
        {"descriptor cut short", truncatedDescriptor, false, -1},
        {"fixed cut short", truncatedFixed, false, -1},
        {"additional length beyond the data", lyingLength, false, -1},
        {"empty", {}, false, -1},
        {"unknown response code", {0x7f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, -1},
    };
    for (const Case& c : cases) {
        AtaRegisters r = parseSense(c.sense.data(), c.sense.size());
        EXPECT_EQ(r.found, c.found) << c.name;
        EXPECT_EQ(smartStatusFromRegisters(r), c.status) << c.name;
    }
}

TEST(SmartData, IdentifyFlagsAndStrings) {
    std::vector<uint8_t> block(kBlockSize, 0);
    putString(block, 10, 10, "  SER123");
    putString(block, 23, 4, "FW01");
    putString(block, 27, 20, "Fixture Disk 1000");
    block[164] = 0x01;
    block[165] = 0x40;
    block[170] = 0x01;
    IdentifyInfo info = parseIdentify(block.data(), block.size());
    EXPECT_TRUE(info.valid);
    EXPECT_TRUE(info.smartSupported);
    EXPECT_TRUE(info.smartEnabled);
    EXPECT_EQ(info.serial, "SER123");
    EXPECT_EQ(info.firmware, "FW01");
    EXPECT_EQ(info.model, "Fixture Disk 1000");

    block[170] = 0;
    EXPECT_FALSE(parseIdentify(block.data(), block.size()).smartEnabled);
    block[164] = 0;
    EXPECT_FALSE(parseIdentify(block.data(), block.size()).smartSupported);
    block[164] = block[165] = 0xff;
    EXPECT_FALSE(parseIdentify(block.data(), block.size()).smartSupported) << "an unimplemented word";

    // Not ASCII, or a NUL inside: the strings are refused whole.
    block[2 * 30] = 0xc3;
    EXPECT_FALSE(parseIdentify(block.data(), block.size()).valid);
    EXPECT_TRUE(parseIdentify(block.data(), block.size()).model.empty());
    putString(block, 27, 20, "Fixture");
    block[2 * 11] = 0;
    EXPECT_FALSE(parseIdentify(block.data(), block.size()).valid);
    EXPECT_FALSE(parseIdentify(block.data(), 100).valid) << "a short block";
}

TEST(SmartData, NvmeHealthPage) {
    uint8_t page[512] = {};
    page[0] = 0x04;
    page[1] = 0x3d;  // 317 K
    page[2] = 0x01;
    NvmeHealth h = parseNvmeHealth(page, sizeof page);
    ASSERT_TRUE(h.valid);
    EXPECT_EQ(h.criticalWarning, 0x04);
    EXPECT_EQ(h.temperatureCelsius, 44);
    EXPECT_FALSE(parseNvmeHealth(page, 2).valid);

    uint8_t data[kBlockSize], thresholds[kBlockSize];
    nvmeAsAtaBlocks(h, data, thresholds);
    EXPECT_TRUE(validateBlock(data, kBlockSize));
    EXPECT_TRUE(validateBlock(thresholds, kBlockSize));
    EXPECT_EQ(data[2], 194);
    EXPECT_EQ(data[2 + 5], 44);
}
