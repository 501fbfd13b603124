#include "platform/smc/FakeSMC.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace telvo::smc {

void FakeSMC::setKey(const std::string& key, const std::string& type, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string t = type;
    t.resize(4, ' ');
    if (bytes.size() > 32) bytes.resize(32);
    for (auto& k : keys_)
        if (k.name == key) {
            k.type = t;
            k.bytes = std::move(bytes);
            return;
        }
    keys_.push_back({key, t, std::move(bytes)});
}

void FakeSMC::setSP78(const std::string& key, double value) {
    auto raw = static_cast<int16_t>(std::lround(value * 256.0));
    setKey(key, "sp78", {uint8_t(uint16_t(raw) >> 8), uint8_t(uint16_t(raw) & 0xff)});
}

void FakeSMC::setFPE2(const std::string& key, double value) {
    auto raw = static_cast<uint16_t>(std::lround(value * 4.0));
    setKey(key, "fpe2", {uint8_t(raw >> 8), uint8_t(raw & 0xff)});
}

void FakeSMC::setUI8(const std::string& key, uint8_t value) { setKey(key, "ui8", {value}); }

void FakeSMC::setFloat(const std::string& key, float value) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &value, 4);
    setKey(key, "flt ", std::move(b));
}

void FakeSMC::removeKey(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(), [&](const Key& k) { return k.name == key; }), keys_.end());
}

int FakeSMC::commandCount(uint8_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counts_.find(command);
    return it == counts_.end() ? 0 : it->second;
}

std::vector<uint8_t> FakeSMC::lastWrite() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastWrite_;
}

void FakeSMC::resetCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.clear();
}

SMCStatus FakeSMC::call(const SMCParamStruct& in, SMCParamStruct& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_[in.data8] += 1;
    if (failures_ > 0) {
        --failures_;
        return kSMCReturnError;
    }
    out = SMCParamStruct{};
    out.key = in.key;
    out.data8 = in.data8;
    const Key* found = nullptr;
    if (in.data8 == kSMCGetKeyFromIndex) {
        if (in.data32 < keys_.size()) found = &keys_[in.data32];
        if (!found) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        out.key = packKey(found->name.c_str(), found->name.size());
        return kSMCReturnSuccess;
    }
    for (const auto& k : keys_)
        if (packKey(k.name.c_str(), k.name.size()) == in.key) {
            found = &k;
            break;
        }
    switch (in.data8) {
    case kSMCGetKeyInfo:
        if (!found) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        out.keyInfo.dataSize = uint32_t(found->bytes.size());
        out.keyInfo.dataType = packKey(found->type.c_str(), 4);
        return kSMCReturnSuccess;
    case kSMCReadKey:
        if (!found) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        if (!found->bytes.empty()) std::memcpy(out.bytes, found->bytes.data(), found->bytes.size());
        return kSMCReturnSuccess;
    case kSMCWriteKey:
        if (!found) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        lastWrite_.assign(in.bytes, in.bytes + 2);
        return kSMCReturnSuccess;
    default:
        return kSMCReturnUnsupported;
    }
}

}  // namespace telvo::smc
