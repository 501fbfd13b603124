#pragma once
// Two collectors that exercise the whole framework: TestValuesCollector keeps N values in
// its own rings (storage type 1, tables "<level>testvalueshistory"); TestDevicesCollector
// keeps two values per item (storage type 2, id tables "<level>testdevicesidhistory" and
// item tables "<level>testdeviceshistory"). Their samples are functions of the sample time,
// so tests know every value.
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"
#include "collectors/framework/StatCollectorItem.h"

namespace telvo::fwtest {

// Value i of the storage-type-1 collector at time t.
inline double valuesSampleValue(double t, int i) { return double(int64_t(t) % 1000) + i * 0.25; }
// The two values of a device item at time t.
inline double deviceRx(double t, const std::string& key) { return double(int64_t(t) % 100) + double(key.size()); }
inline double deviceTx(double t) { return double(int64_t(t) % 7) * 1024.0; }

class TestValuesCollector : public StatCollector {
public:
    explicit TestValuesCollector(int values = 3);
    std::string statType() const override { return "testvalues"; }
    void updateStats() override;
    void addLongTermSample(const Value& sample) override { longTermSamples.push_back(sample); }
    int valueCount() const { return valueCount_; }
    static std::string valueName(int i) { return std::string("v").append(std::to_string(i)); }
    int samplesTaken = 0;
    std::vector<double> sampleTimes;  // level-0 time of every sample taken
    std::vector<Value> longTermSamples;

private:
    int valueCount_;
};

class TestDeviceItem : public StatCollectorItem {
public:
    TestDeviceItem() : StatCollectorItem(sampleCount()) {}
    static int64_t sampleCount() { return 2; }
    Value xmlStorageItem() const override;
    Value xmlSamplesFromAttributes(const Value& attributes) const override {
        return xmlDefaultSamplesFromAttributes(attributes);
    }
};

class TestDevicesCollector : public StatCollector {
public:
    explicit TestDevicesCollector(std::vector<std::string> keys = {"en0", "en1"});
    std::string statType() const override { return "testdevices"; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<TestDeviceItem>(); };
    }
    void updateStats() override;
    std::vector<std::string> liveKeys;
};

// SQL texts shared by the tests that inspect the files.
std::string valuesCreateSQL(int values);

}  // namespace telvo::fwtest

#include "collectors/framework/FrameworkLog.h"

namespace telvo::fwtest {

// Collects the framework's log lines while in scope.
struct LogCapture {
    explicit LogCapture(std::vector<std::string>& lines) {
        frameworklog::setSinkForTesting([&lines](const std::string& l) { lines.push_back(l); });
    }
    ~LogCapture() { frameworklog::setSinkForTesting(nullptr); }
};

}  // namespace telvo::fwtest
