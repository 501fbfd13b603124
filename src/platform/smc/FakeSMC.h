#pragma once
// An SMC held in memory, for tests and benchmarks: keys in index order with their type and
// bytes, answering commands 9, 5 and 8 as a real SMC does (result 0x84 for a missing key),
// taking writes (command 6), counting the commands it received, and failing exchanges on demand.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/smc/SMCBackend.h"

namespace telvo::smc {

class FakeSMC : public SMCBackend {
public:
    // Adds or replaces a key (its index is kept when it existed). `type` is padded to four
    // characters; at most 32 bytes are kept.
    void setKey(const std::string& key, const std::string& type, std::vector<uint8_t> bytes);
    // Conveniences: "sp78" from a temperature, "fpe2" from a fan speed, "ui8 ", "flt ".
    void setSP78(const std::string& key, double value);
    void setFPE2(const std::string& key, double value);
    void setUI8(const std::string& key, uint8_t value);
    void setFloat(const std::string& key, float value);
    void removeKey(const std::string& key);

    // open() answers this (kSMCReturnSuccess by default).
    void setOpenStatus(SMCStatus status) { openStatus_ = status; }
    // The next `count` exchanges fail with kSMCReturnError.
    void failNextCalls(int count) { failures_ = count; }
    // Commands received, by command number.
    int commandCount(uint8_t command) const;
    void resetCounts();
    // Bytes 0 and 1 of the last write (command 6).
    std::vector<uint8_t> lastWrite() const;

    SMCStatus open() override { return openStatus_; }
    void close() override {}
    SMCStatus call(const SMCParamStruct& in, SMCParamStruct& out) override;

private:
    struct Key {
        std::string name;
        std::string type;
        std::vector<uint8_t> bytes;
    };
    mutable std::mutex mutex_;
    std::vector<Key> keys_;
    SMCStatus openStatus_ = kSMCReturnSuccess;
    int failures_ = 0;
    std::map<uint8_t, int> counts_;
    std::vector<uint8_t> lastWrite_;
};

}  // namespace telvo::smc
