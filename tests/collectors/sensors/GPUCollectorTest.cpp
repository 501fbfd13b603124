// The dormant GPU collector on registry fixtures, and the dormant server-information collector.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "collectors/framework/NodeText.h"
#include "collectors/sensors/GPUStatCollector.h"
#include "collectors/sensors/ServerInfoCollector.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/registry/SysfsRegistry.h"
#include "platform/time/Clock.h"
#include "platforms/FixtureModels.h"
#include "platforms/PlatformController.h"

using namespace telvo;

namespace {

Value le32(int32_t v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return Value(std::move(b));
}

class GPUCollector : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/telvo-gpu-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        sys_ = tmpl;
        registry::setSysfsRootForTesting(sys_);
        PlatformController::resetForTesting();
        PlatformController::registerModels(fixtures::kFixtureModels);
        platform::Clock::useVirtual(1700000000.0);
    }
    void TearDown() override {
        GPUStatCollectorMac::cleanupShared();
        ServerInfoCollector::resetForTesting();
        PlatformController::resetForTesting();
        registry::Registry::resetForTesting();
        registry::setSysfsRootForTesting("");
        platform::Clock::useReal();
        std::filesystem::remove_all(sys_);
    }
    void setModel(const std::string& id) {
        std::filesystem::create_directories(sys_ + "/class/dmi/id");
        std::ofstream(sys_ + "/class/dmi/id/product_name") << id << "\n";
    }
    // A PCI display device two levels below a bridge holding "device-id".
    std::shared_ptr<registry::Entry> addGPU(registry::RegistryBuilder& b, int32_t deviceID, const std::string& model,
                                            ValueDictionary extra = {}, Value performance = Value()) {
        auto bridge = b.add(nullptr, "IOPCIDevice", "PEG0", {{"device-id", le32(deviceID)}});
        auto port = b.add(bridge, "IOPCIDevice", "PEGP");
        extra["IOName"] = Value::data(std::string("display") + '\0');
        extra["model"] = Value::data(model + '\0');
        auto display = b.add(port, "IOPCIDevice", "display", extra);
        b.add(display, "IOService", "accelerator", {{"IOClass", Value("Other")}});
        if (!performance.isNull()) b.add(display, "IOAccelerator", "stats", {{"PerformanceStatistics", performance}});
        return display;
    }
    double value(const StatCollectorItemPtr& item, int index) { return item->storageForType(0)[0].values[index]; }

    std::string sys_;
};

TEST_F(GPUCollector, ReadsMemoryAndProcessorUse) {
    registry::RegistryBuilder b;
    addGPU(b, 0x67ef, "AMD Radeon Pro 560", {{"VRAM,totalMB", le32(1024)}},
           Value(ValueDictionary{{"Device Utilization %", Value(45)}, {"vramUsedBytes", Value(256LL << 20)}}));
    addGPU(b, 0x591b, "Intel HD Graphics 630", {{"built-in", Value::data("\0")}},
           Value(ValueDictionary{{"GPU Core Utilization", Value(450000000LL)}}));
    addGPU(b, 0x1111, "", {{"VRAM,totalMB", le32(2048)}});
    b.install();
    auto c = GPUStatCollectorMac::sharedGPUCollector();
    c->fetchGPUS();
    ASSERT_EQ(c->items().size(), 3u);
    auto amd = std::static_pointer_cast<GPUStatCollectorItem>(c->items()[0]);
    auto intel = std::static_pointer_cast<GPUStatCollectorItem>(c->items()[1]);
    auto plain = std::static_pointer_cast<GPUStatCollectorItem>(c->items()[2]);
    EXPECT_EQ(amd->key(), "26607");
    EXPECT_EQ(amd->model, "AMD Radeon Pro 560");
    EXPECT_EQ(amd->totalyMemory, 1073741824.0);
    EXPECT_EQ(plain->totalyMemory, 2147483648.0);
    EXPECT_EQ(plain->model, "GPU");
    EXPECT_FALSE(amd->intergrated) << "with an Intel processor present, integrated means Intel";
    EXPECT_TRUE(intel->intergrated);
    EXPECT_EQ(c->intergratedGPU(), intel);
    EXPECT_EQ(c->discreteGPU(), amd);

    c->sampleIndexRecord(0)->sampleID += 1;
    c->updateGPUS();
    EXPECT_EQ(amd->freeMemory, 768.0 * 1024 * 1024);
    EXPECT_DOUBLE_EQ(value(amd, 0), 0.25);
    EXPECT_DOUBLE_EQ(value(amd, 1), 45);
    EXPECT_DOUBLE_EQ(value(intel, 1), 45);
    EXPECT_EQ(value(intel, 0), -1) << "no total memory";
    EXPECT_EQ(value(plain, 1), -1) << "never reported a processor use";
    EXPECT_EQ(value(plain, 0), -1);
    plain->connected = false;
    amd->connected = false;
    c->sampleIndexRecord(0)->sampleID += 1;
    c->updateGPUS();
    EXPECT_EQ(value(amd, 0), -1) << "not connected";
    EXPECT_EQ(value(amd, 1), -1);
}

TEST_F(GPUCollector, TwinCardsAreKeyedBySlotAndIntegratedIntelCanBeHidden) {
    registry::RegistryBuilder b;
    addGPU(b, 0x6798, "AMD Radeon HD 7950", {{"AAPL,slot-name", Value::data(std::string("Slot-1") + '\0')}});
    addGPU(b, 0x6798, "AMD Radeon HD 7950", {{"attached-gpu-control-path", Value("IOService:/x")}});
    addGPU(b, 0x0162, "Intel HD Graphics 4000");
    b.install();
    auto c = GPUStatCollectorMac::sharedGPUCollector();
    c->fetchGPUS();
    ASSERT_EQ(c->items().size(), 3u);
    EXPECT_EQ(c->items()[0]->key(), "Slot1");
    EXPECT_EQ(c->items()[1]->key().size(), 32u) << "the digest of the control path";
    GPUStatCollectorMac::cleanupShared();

    setModel("iMac16,2");  // an iMac hides integrated graphics
    PlatformController::resetForTesting();
    PlatformController::registerModels(fixtures::kFixtureModels);
    auto imac = GPUStatCollectorMac::sharedGPUCollector();
    imac->fetchGPUS();
    EXPECT_EQ(imac->items().size(), 2u);
}

TEST_F(GPUCollector, ConversionsReadOnlyWhatIsThere) {
    EXPECT_EQ(GPUStatCollectorMac::convertValue(le32(-7)), 7);
    EXPECT_EQ(GPUStatCollectorMac::convertValue(Value::data("ab")), 0) << "fewer than 4 bytes";
    EXPECT_EQ(GPUStatCollectorMac::convertValue(Value("12.5")), 12.5);
    EXPECT_EQ(GPUStatCollectorMac::convertValue(Value(ValueArray{})), 0);
    EXPECT_EQ(GPUStatCollectorMac::convertCFNumber(Value()), 0);
    EXPECT_EQ(GPUStatCollectorMac::convertCFNumber(Value(-1LL)), 18446744073709551615.0);
    EXPECT_EQ(GPUStatCollectorMac::convertString(Value::data(std::string("Radeon") + '\0')).string(), "Radeon");
}

TEST_F(GPUCollector, ServerInformation) {
    setModel("MacBookPro13,2");
    auto platform = PlatformController::currentPlatform();
    platform->setMemorySlotInfo(Value(ValueArray{Value(ValueDictionary{
        {"_name", Value("DIMM0")}, {"dimm_size", Value("8 GB")}, {"dimm_speed", Value("2133 MHz")},
        {"dimm_type", Value("LPDDR3")}})}));
    auto c = ServerInfoCollector::sharedServerInfoCollector();
    auto nodes = c->xmlNodesFromAttributes(Value());
    ASSERT_EQ(nodes.size(), 1u);
    ASSERT_EQ(nodes[0]->children.size(), 2u);
    const auto& general = nodes[0]->children[0];
    EXPECT_EQ(*general->attribute("model"), "MacBookPro13,2");
    EXPECT_EQ(*general->attribute("name"), "MacBook Pro");
    EXPECT_EQ(*general->attribute("variation"), "Retina & Touch Bar, Late 2016");
    EXPECT_EQ(*general->attribute("os"), platform->osVersion());
    const std::string text = fwtest::nodesText(nodes);
    EXPECT_NE(text.find("<s type=\"memoryslot\" name=\"DIMM0\" size=\"8 GB\" speed=\"2133 MHz\">"), std::string::npos)
        << text;
    EXPECT_EQ(ServerInfoCollector::xmlRequestWithProtocol(1).size(), 0u);
    EXPECT_EQ(*ServerInfoCollector::xmlRequestWithProtocol(3)[0]->attribute("samples"), "0");
}

}  // namespace
