#pragma once
// SensorSMCController: the process's one connection to the SMC. It packs four-character keys,
// reads a key's value (asking the SMC once per key for the key's size and type and caching the
// SMC's answer), and offers the raw exchange to the emulated-SMC platform. Reads never fail:
// a missing key, a closed connection or a failed exchange reads as size 0, empty type and zero
// bytes, which decodes to -1. The Linux backend is the applesmc driver; tests install a fake.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/smc/SMCBackend.h"
#include "sensors/SMCResultData.h"

namespace telvo {

// The key's first four bytes packed big-endian; 0 for a text shorter than four bytes.
uint32_t makeUInt32Key(const std::string& key);

class SensorSMCController {
public:
    struct KeyInfo {
        std::string type;
        uint32_t size = 0;
    };

    static SensorSMCController& sharedSMC();
    // Drops the controller (and its cache); the next sharedSMC() makes a new one.
    static void resetForTesting();
    // The backend the next open() uses (null restores the applesmc driver).
    static void setBackendForTesting(smc::SMCBackendPtr backend);

    // Opens the connection: kSMCReturnError when one is open already (nothing changes), else
    // the backend's answer (kSMCReturnNotFound without an SMC).
    smc::SMCStatus open();
    smc::SMCStatus openIfNeeded();
    void close();
    void cleanup() { close(); }
    bool isOpen() const;

    // One exchange; kSMCReturnNotFound while closed.
    smc::SMCStatus processInput(const smc::SMCParamStruct& in, smc::SMCParamStruct& out);
    // Fills `val` (always answers 0).
    int readKey(const std::string& key, SMCResultData& val);
    void dataForKey(const std::string& key, SMCResultData& val) { readKey(key, val); }
    // Writes bytes 0 and 1 from the hexadecimal text's characters 1-2 and 3-4.
    smc::SMCStatus writeValue(const std::string& hexValue, const std::string& key);

    bool debug() const { return debug_; }
    void setDebug(bool v) { debug_ = v; }
    std::map<std::string, KeyInfo> keyCache() const;

private:
    SensorSMCController() = default;
    uint32_t packed(const std::string& key) const;

    mutable std::mutex mutex_;
    smc::SMCBackendPtr backend_;
    bool debug_ = false;
    std::map<std::string, KeyInfo> keyCache_;
};

}  // namespace telvo
