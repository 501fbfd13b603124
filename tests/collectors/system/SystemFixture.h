#pragma once
// Test fixture for the system collectors: the framework's history fixture (temporary root with
// the daemon's databases folder, virtual clock, sqlite3 on the real files) plus a copy of a
// fixture machine (data/machine: /proc and /sys) as the kernel-file root, and helpers to
// change that machine between ticks.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/NodeText.h"
#include "collectors/framework/TestCollectors.h"
#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/host/ProcRoot.h"

namespace telvo::systest {

class SystemFixture : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        fwtest::HistoryFixture::SetUp();
        machine_ = root_ + "/machine";
        std::filesystem::copy(std::string(TELVO_TEST_DATA_DIR) + "/machine", machine_,
                              std::filesystem::copy_options::recursive);
        host::ProcRoot::setForTesting(machine_);
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        CPUStatCollectorMac::resetForTesting();
        LoadStatCollectorMac::resetForTesting();
        MemoryStatCollectorMac::resetForTesting();
        UptimeStatCollectorMac::resetForTesting();
        host::ProcRoot::resetForTesting();
        fwtest::HistoryFixture::TearDown();
    }

    // Replaces a file of the machine with one of data/machine-later.
    void useLater(const std::string& kernelPath, const std::string& laterName) {
        std::filesystem::copy_file(std::string(TELVO_TEST_DATA_DIR) + "/machine-later/" + laterName,
                                   machine_ + kernelPath, std::filesystem::copy_options::overwrite_existing);
    }
    void writeMachineFile(const std::string& kernelPath, const std::string& contents) {
        std::filesystem::create_directories(std::filesystem::path(machine_ + kernelPath).parent_path());
        std::ofstream(machine_ + kernelPath) << contents;
    }
    void removeMachineFile(const std::string& kernelPath) { std::filesystem::remove_all(machine_ + kernelPath); }

    // One tick of the collector's clock (it was started with startCollector).
    void tick() { dispatch::MainLoop::runFor(1.0); }

    static Value request(const std::string& samples, int64_t protocol) {
        return Value(ValueDictionary{{"samples", Value(samples)}, {"protocol", NSInt(protocol)}});
    }

    void expectGolden(const std::string& name, const std::vector<StatNodePtr>& nodes) {
        std::string golden;
        const std::string text = fwtest::nodesText(nodes);
        EXPECT_TRUE(fwtest::matchesGolden(name, text, golden)) << "got:\n" << text << "golden " << name << ":\n" << golden;
    }

    // The "s" elements of the first stat node.
    static std::vector<StatNodePtr> samplesOf(const std::vector<StatNodePtr>& nodes) {
        if (nodes.empty()) return {};
        std::vector<StatNodePtr> out;
        for (const auto& c : nodes[0]->children)
            if (c->name == "s") out.push_back(c);
        return out;
    }
    static std::string attr(const StatNodePtr& node, const std::string& key) {
        const std::string* v = node ? node->attribute(key) : nullptr;
        return v ? *v : std::string("<absent>");
    }

    std::string machine_;
};

}  // namespace telvo::systest
