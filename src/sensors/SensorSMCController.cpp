#include "sensors/SensorSMCController.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ServerLog.h"
#include "platform/smc/AppleSMCBackend.h"

namespace telvo {

using namespace smc;

namespace {

std::mutex gSharedMutex;
std::unique_ptr<SensorSMCController>* gShared() {
    static std::unique_ptr<SensorSMCController> p;
    return &p;
}
SMCBackendPtr& backendForTesting() {
    static SMCBackendPtr b;
    return b;
}

}  // namespace

uint32_t makeUInt32Key(const std::string& key) { return packKey(key.data(), key.size()); }

SensorSMCController& SensorSMCController::sharedSMC() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    auto& p = *gShared();
    if (!p) p.reset(new SensorSMCController());
    return *p;
}

void SensorSMCController::resetForTesting() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared()->reset();
}

void SensorSMCController::setBackendForTesting(SMCBackendPtr backend) {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    backendForTesting() = std::move(backend);
}

SMCStatus SensorSMCController::open() {
    SMCBackendPtr candidate;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        candidate = backendForTesting();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (backend_) return kSMCReturnError;
    if (!candidate) candidate = std::make_shared<AppleSMCBackend>();
    SMCStatus status = candidate->open();
    if (status == kSMCReturnSuccess) backend_ = std::move(candidate);
    return status;
}

SMCStatus SensorSMCController::openIfNeeded() {
    if (isOpen()) return kSMCReturnSuccess;
    return open();
}

void SensorSMCController::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (backend_) backend_->close();
    backend_.reset();
}

bool SensorSMCController::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return backend_ != nullptr;
}

std::map<std::string, SensorSMCController::KeyInfo> SensorSMCController::keyCache() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keyCache_;
}

SMCStatus SensorSMCController::processInput(const SMCParamStruct& in, SMCParamStruct& out) {
    SMCBackendPtr backend;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        backend = backend_;
    }
    if (!backend) return kSMCReturnNotFound;
    return backend->call(in, out);
}

uint32_t SensorSMCController::packed(const std::string& key) const {
    uint32_t k = makeUInt32Key(key);
    if (k == 0 && debug_) ServerLog("error converting key - %@", key);
    return k;
}

int SensorSMCController::readKey(const std::string& key, SMCResultData& val) {
    val = SMCResultData{};
    bool cached = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = keyCache_.find(key);
        if (it != keyCache_.end()) {
            val.dataSize = it->second.size;
            std::snprintf(val.dataType, sizeof val.dataType, "%s", it->second.type.c_str());
            cached = true;
        }
    }
    if (!cached) {
        SMCParamStruct in, out;
        in.data8 = kSMCGetKeyInfo;
        in.keyInfo.dataSize = 2;
        in.key = packed(key);
        SMCStatus status = processInput(in, out);
        // Only the SMC's own answers are kept: a key it knows, or one it says is missing. A
        // failed exchange is asked again next time.
        const bool answered = status == kSMCReturnSuccess && (out.result == kSMCSuccess || out.result == kSMCKeyNotFound);
        KeyInfo info;
        if (status == kSMCReturnSuccess && out.result == kSMCSuccess) {
            const uint32_t t = out.keyInfo.dataType;
            char type[5] = {char(t >> 24), char(t >> 16), char(t >> 8), char(t), 0};
            info.type = std::string(type, strnlen(type, 4));
            info.size = out.keyInfo.dataSize;
        }
        val.dataSize = info.size;
        std::snprintf(val.dataType, sizeof val.dataType, "%s", info.type.c_str());
        if (answered) {
            std::lock_guard<std::mutex> lock(mutex_);
            keyCache_[key] = info;
        }
        if (!answered || info.size == 0) return 0;
    }
    if (val.dataSize == 0) return 0;  // a key the SMC does not have
    SMCParamStruct in, out;
    in.data8 = kSMCReadKey;
    in.keyInfo.dataSize = val.dataSize;
    in.key = packed(key);
    if (processInput(in, out) == kSMCReturnSuccess && out.result == kSMCSuccess)
        std::memcpy(val.bytes, out.bytes, sizeof val.bytes);
    return 0;
}

SMCStatus SensorSMCController::writeValue(const std::string& hexValue, const std::string& key) {
    SMCParamStruct in, out;
    in.data8 = kSMCGetKeyInfo;
    in.key = packed(key);
    SMCStatus status = processInput(in, out);
    if (status != kSMCReturnSuccess) return status;
    if (out.result == kSMCKeyNotFound) return kSMCReturnNotFound;
    if (out.result != kSMCSuccess) return kSMCReturnInternalError;
    SMCParamStruct write, reply;
    write.data8 = kSMCWriteKey;
    write.key = packed(key);
    write.keyInfo.dataSize = out.keyInfo.dataSize;
    auto hexByte = [&](size_t at) -> uint8_t {
        if (hexValue.size() < at + 2) return 0;
        return uint8_t(std::strtol(hexValue.substr(at, 2).c_str(), nullptr, 16) & 0xff);
    };
    write.bytes[0] = hexByte(0);
    write.bytes[1] = hexByte(2);
    return processInput(write, reply);
}

}  // namespace telvo
