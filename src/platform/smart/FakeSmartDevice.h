#pragma once
// FakeSmartDevice: a drive for tests that replays recorded 512-byte IDENTIFY, data and
// threshold blocks and a status, counts the commands it is sent and can fail any of them.
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/smart/SmartData.h"
#include "platform/smart/SmartDevice.h"

namespace telvo::smart {

struct FakeDrive {
    std::vector<uint8_t> identify, data, thresholds;  // 512 bytes each when set
    bool exceeded = false;
    bool smartEnabled = true;  // the drive's state, as the commands leave it
    std::string failCommand;   // "identify", "enable", "status", "data", "thresholds"
    std::atomic<int> reads{0}, enables{0}, disables{0}, opens{0};
};

class FakeSmartDevice : public SmartDevice {
public:
    explicit FakeSmartDevice(FakeDrive& drive) : drive_(drive) { ++drive_.opens; }
    // The recorded block with word 85 bit 0 telling the drive's present SMART state.
    ErrorPtr identify(uint8_t* block) override {
        if (ErrorPtr e = copy("identify", drive_.identify, block)) return e;
        block[170] = static_cast<uint8_t>((block[170] & ~1) | (drive_.smartEnabled ? 1 : 0));
        return nullptr;
    }
    ErrorPtr enableOperations(bool on) override {
        if (drive_.failCommand == "enable") return fail("enable");
        ++(on ? drive_.enables : drive_.disables);
        drive_.smartEnabled = on;
        return nullptr;
    }
    ErrorPtr returnStatus(bool& exceeded) override {
        if (drive_.failCommand == "status") return fail("status");
        exceeded = drive_.exceeded;
        return nullptr;
    }
    ErrorPtr readData(uint8_t* block) override {
        ++drive_.reads;
        return copy("data", drive_.data, block);
    }
    ErrorPtr readThresholds(uint8_t* block) override { return copy("thresholds", drive_.thresholds, block); }

private:
    ErrorPtr copy(const std::string& name, const std::vector<uint8_t>& from, uint8_t* block) {
        if (drive_.failCommand == name || from.size() < kBlockSize) return fail(name);
        memcpy(block, from.data(), kBlockSize);
        return nullptr;
    }
    static ErrorPtr fail(const std::string& name) { return makeError("SMART", 5, name + " failed"); }
    FakeDrive& drive_;
};

}  // namespace telvo::smart
