// SMC access: the controller over a fake SMC (key information cached from the SMC's answers
// only, reads that never fail, writes), and the applesmc backend over a fake of the driver's
// files that honours its machine-wide cursor.
#include <gtest/gtest.h>

#include <memory>

#include "platform/smc/AppleSMCBackend.h"
#include "platform/smc/FakeAppleSMCFiles.h"
#include "platform/smc/FakeSMC.h"
#include "sensors/SMCValueDecoder.h"
#include "sensors/SensorSMCController.h"

using namespace telvo;
using namespace telvo::smc;

namespace {

class SMCAccess : public ::testing::Test {
protected:
    void SetUp() override {
        fake_ = std::make_shared<FakeSMC>();
        fake_->setSP78("TC0P", 42.25);
        fake_->setKey("FS! ", "ui16", {0x00, 0x03});
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(fake_);
    }
    void TearDown() override {
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(nullptr);
    }
    std::shared_ptr<FakeSMC> fake_;
};

TEST_F(SMCAccess, KeysPackBigEndianAndShortKeysPackToZero) {
    EXPECT_EQ(makeUInt32Key("TC0P"), 0x54433050u);
    EXPECT_EQ(makeUInt32Key("TC0PX"), 0x54433050u);
    EXPECT_EQ(makeUInt32Key("TC0"), 0u);
    EXPECT_EQ(makeUInt32Key(""), 0u);
}

TEST_F(SMCAccess, KeyInformationIsAskedOnceThenCached) {
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    SMCResultData d;
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("TC0P", &d), 42.25);
    EXPECT_EQ(fake_->commandCount(kSMCGetKeyInfo), 1);
    EXPECT_EQ(fake_->commandCount(kSMCReadKey), 1);
    EXPECT_STREQ(d.dataType, "sp78");
    EXPECT_EQ(d.dataSize, 2u);
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("TC0P", &d), 42.25);
    EXPECT_EQ(fake_->commandCount(kSMCGetKeyInfo), 1);
    EXPECT_EQ(fake_->commandCount(kSMCReadKey), 2);
}

TEST_F(SMCAccess, AMissingKeyReadsEmptyAndIsNotAskedAgain) {
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    for (int i = 0; i < 2; ++i) {
        SMCResultData d;
        d.bytes[0] = 0xAA;
        smc.dataForKey("TG0D", d);
        EXPECT_EQ(d.dataSize, 0u);
        EXPECT_STREQ(d.dataType, "");
        for (uint8_t b : d.bytes) EXPECT_EQ(b, 0);
        EXPECT_EQ(smcvalues::convertData(d), -1.0f);
    }
    EXPECT_EQ(fake_->commandCount(kSMCGetKeyInfo), 1);
    ASSERT_EQ(smc.keyCache().count("TG0D"), 1u);
    EXPECT_EQ(smc.keyCache().at("TG0D").size, 0u);
}

TEST_F(SMCAccess, AFailedExchangeIsNotCachedAndIsAskedAgain) {
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    fake_->failNextCalls(1);
    SMCResultData d;
    EXPECT_EQ(smcvalues::valueForSMCKey("TC0P", &d), -1.0);
    EXPECT_EQ(smc.keyCache().count("TC0P"), 0u);
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("TC0P", &d), 42.25);
    EXPECT_EQ(fake_->commandCount(kSMCGetKeyInfo), 2);
}

TEST_F(SMCAccess, OpenTwiceKeepsTheConnectionAndWithoutAnSMCEveryKeyIsAbsent) {
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    EXPECT_EQ(smc.open(), kSMCReturnError);
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("TC0P", nullptr), 42.25);

    SensorSMCController::resetForTesting();
    fake_->setOpenStatus(kSMCReturnNotFound);
    auto& closed = SensorSMCController::sharedSMC();
    EXPECT_EQ(closed.open(), kSMCReturnNotFound);
    EXPECT_FALSE(closed.isOpen());
    EXPECT_EQ(smcvalues::valueForSMCKey("TC0P", nullptr), -1.0);
}

TEST_F(SMCAccess, WritesTwoHexBytesAndRefusesAMissingKey) {
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    fake_->resetCounts();
    EXPECT_EQ(smc.writeValue("0a1f", "NOPE"), kSMCReturnNotFound);
    EXPECT_EQ(fake_->commandCount(kSMCWriteKey), 0);
    EXPECT_EQ(smc.writeValue("0a1f", "FS! "), kSMCReturnSuccess);
    EXPECT_EQ(fake_->commandCount(kSMCWriteKey), 1);
    EXPECT_EQ(fake_->lastWrite()[0], 0x0A);
    EXPECT_EQ(fake_->lastWrite()[1], 0x1F);
}

// ---- The applesmc backend

std::vector<FakeAppleSMCFiles::Key> driverKeys() {
    return {{"#KEY", "ui32", std::string("\0\0\0\3", 4)},
            {"TC0P", "sp78", std::string("\x1e\x80", 2)},
            {"F0ID", "{fds", std::string("\0\0Leftside\0\0\0\0", 14)}};
}

SMCParamStruct request(uint8_t command, const char* key, uint32_t index = 0) {
    SMCParamStruct in;
    in.data8 = command;
    in.key = packKey(key, key ? 4 : 0);
    in.data32 = index;
    return in;
}

TEST(AppleSMCBackendTest, AnswersTheCommandsThroughTheCursor) {
    auto files = std::make_shared<FakeAppleSMCFiles>(driverKeys());
    AppleSMCBackend backend(files);
    ASSERT_EQ(backend.open(), kSMCReturnSuccess);
    SMCParamStruct out;

    ASSERT_EQ(backend.call(request(kSMCGetKeyFromIndex, nullptr, 2), out), kSMCReturnSuccess);
    EXPECT_EQ(out.key, packKey("F0ID", 4));
    ASSERT_EQ(backend.call(request(kSMCGetKeyFromIndex, nullptr, 3), out), kSMCReturnSuccess);
    EXPECT_EQ(out.result, kSMCKeyNotFound);

    ASSERT_EQ(backend.call(request(kSMCGetKeyInfo, "TC0P"), out), kSMCReturnSuccess);
    EXPECT_EQ(out.result, kSMCSuccess);
    EXPECT_EQ(out.keyInfo.dataSize, 2u);
    EXPECT_EQ(out.keyInfo.dataType, packKey("sp78", 4));
    ASSERT_EQ(backend.call(request(kSMCReadKey, "TC0P"), out), kSMCReturnSuccess);
    EXPECT_EQ(out.bytes[0], 0x1e);
    EXPECT_EQ(out.bytes[1], 0x80);
    ASSERT_EQ(backend.call(request(kSMCReadKey, "F0ID"), out), kSMCReturnSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.bytes) + 2, 8), "Leftside");

    ASSERT_EQ(backend.call(request(kSMCGetKeyInfo, "TG0D"), out), kSMCReturnSuccess);
    EXPECT_EQ(out.result, kSMCKeyNotFound);
    EXPECT_EQ(backend.call(request(kSMCWriteKey, "TC0P"), out), kSMCReturnUnsupported);
}

TEST(AppleSMCBackendTest, AnExchangeWhoseCursorMovedIsRetried) {
    auto files = std::make_shared<FakeAppleSMCFiles>(driverKeys());
    AppleSMCBackend backend(files);
    ASSERT_EQ(backend.open(), kSMCReturnSuccess);
    // Another process moves the cursor right after our first data read.
    int moves = 1;
    files->setAfterRead([&](const std::string& attribute) {
        if (attribute == "key_at_index_data" && moves > 0) {
            --moves;
            files->moveCursor(2);
        }
    });
    SMCParamStruct out;
    ASSERT_EQ(backend.call(request(kSMCReadKey, "TC0P"), out), kSMCReturnSuccess);
    EXPECT_EQ(backend.retries(), 1);
    EXPECT_EQ(out.bytes[0], 0x1e);
    EXPECT_EQ(out.bytes[1], 0x80);

    // A cursor that never settles fails the exchange rather than answering another key's bytes.
    files->setAfterRead([&](const std::string& attribute) {
        if (attribute == "key_at_index_data") files->moveCursor(2);
    });
    EXPECT_EQ(backend.call(request(kSMCReadKey, "TC0P"), out), kSMCReturnError);
    EXPECT_EQ(out.bytes[0], 0);
}

TEST(AppleSMCBackendTest, OpenFailsWithoutTheDriverOrTheRightToMoveTheCursor) {
    auto files = std::make_shared<FakeAppleSMCFiles>(driverKeys());
    files->setCursorWritable(false);
    AppleSMCBackend notRoot(files);
    EXPECT_EQ(notRoot.open(), kSMCReturnNotPrivileged);
    SMCParamStruct out;
    EXPECT_EQ(notRoot.call(request(kSMCReadKey, "TC0P"), out), kSMCReturnNotFound);

    AppleSMCBackend none(sysfsAppleSMCFiles("/nonexistent-applesmc-folder"));
    EXPECT_EQ(none.open(), kSMCReturnNotFound);
}

TEST(AppleSMCBackendTest, TheControllerReadsThroughTheBackend) {
    auto files = std::make_shared<FakeAppleSMCFiles>(driverKeys());
    SensorSMCController::resetForTesting();
    SensorSMCController::setBackendForTesting(std::make_shared<AppleSMCBackend>(files));
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), kSMCReturnSuccess);
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("TC0P", nullptr), 30.5);
    EXPECT_DOUBLE_EQ(smcvalues::valueForSMCKey("#KEY", nullptr), 3.0);
    EXPECT_EQ(smcvalues::valueForSMCKey("TG0D", nullptr), -1.0);
    SensorSMCController::resetForTesting();
    SensorSMCController::setBackendForTesting(nullptr);
}

}  // namespace
