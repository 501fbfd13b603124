#include "platform/smc/AppleSMCBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace telvo::smc {
namespace {

// One cursor per machine: every backend of the process takes turns.
std::mutex& cursorMutex() {
    static std::mutex m;
    return m;
}

std::string withoutNewline(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\0')) s.pop_back();
    return s;
}

bool parseNumber(const std::string& text, long& value) {
    std::string t = withoutNewline(text);
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(t.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

std::string keyText(uint32_t key) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[size_t(i)] = char((key >> (24 - 8 * i)) & 0xff);
    return s;
}

}  // namespace

AppleSMCBackend::AppleSMCBackend(AppleSMCFilesPtr files) : files_(std::move(files)) {}

SMCStatus AppleSMCBackend::open() {
    std::lock_guard<std::mutex> lock(cursorMutex());
    names_.clear();
    indexOf_.clear();
    open_ = false;
    std::string text;
    long count = 0;
    if (!files_ || !files_->read("key_count", text)) return kSMCReturnNotFound;
    if (!parseNumber(text, count) || count < 0 || count > kMaximumKeyCount) return kSMCReturnError;
    names_.reserve(size_t(count));
    for (long i = 0; i < count; ++i) {
        if (!select(size_t(i))) {
            names_.clear();
            return i == 0 ? kSMCReturnNotPrivileged : kSMCReturnError;
        }
        std::string name;
        if (!readName(name)) {
            names_.clear();
            return kSMCReturnError;
        }
        names_.push_back(name);
        indexOf_.emplace(name, size_t(i));  // the first index of a name wins
    }
    open_ = true;
    return kSMCReturnSuccess;
}

void AppleSMCBackend::close() {
    std::lock_guard<std::mutex> lock(cursorMutex());
    open_ = false;
    names_.clear();
    indexOf_.clear();
}

bool AppleSMCBackend::select(size_t index) { return files_->write("key_at_index", std::to_string(index)); }

bool AppleSMCBackend::readName(std::string& name) {
    std::string text;
    if (!files_->read("key_at_index_name", text)) return false;
    name = withoutNewline(text);
    return true;
}

SMCStatus AppleSMCBackend::call(const SMCParamStruct& in, SMCParamStruct& out) {
    std::lock_guard<std::mutex> lock(cursorMutex());
    out = SMCParamStruct{};
    if (!open_) return kSMCReturnNotFound;
    out.key = in.key;
    out.data8 = in.data8;
    switch (in.data8) {
    case kSMCGetKeyFromIndex: {
        if (in.data32 >= names_.size()) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        const std::string& name = names_[in.data32];
        out.key = packKey(name.c_str(), name.size());
        return kSMCReturnSuccess;
    }
    case kSMCGetKeyInfo:
    case kSMCReadKey: {
        const std::string key = keyText(in.key);
        auto found = indexOf_.find(key);
        if (found == indexOf_.end()) {
            out.result = kSMCKeyNotFound;
            return kSMCReturnSuccess;
        }
        return in.data8 == kSMCGetKeyInfo ? keyInformation(found->second, key, out)
                                          : readValue(found->second, key, out);
    }
    default:
        return kSMCReturnUnsupported;
    }
}

SMCStatus AppleSMCBackend::keyInformation(size_t index, const std::string& key, SMCParamStruct& out) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) ++retries_;
        std::string type, length, name;
        long size = 0;
        if (!select(index) || !files_->read("key_at_index_type", type) ||
            !files_->read("key_at_index_data_length", length) || !readName(name))
            return kSMCReturnError;
        if (name != key) continue;
        if (!parseNumber(length, size) || size < 0 || size > 32) return kSMCReturnError;
        type = withoutNewline(type);
        type.resize(4, ' ');
        out.keyInfo.dataSize = uint32_t(size);
        out.keyInfo.dataType = packKey(type.c_str(), 4);
        out.result = kSMCSuccess;
        return kSMCReturnSuccess;
    }
    return kSMCReturnError;
}

SMCStatus AppleSMCBackend::readValue(size_t index, const std::string& key, SMCParamStruct& out) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) ++retries_;
        std::string data, name;
        if (!select(index) || !files_->read("key_at_index_data", data) || !readName(name)) return kSMCReturnError;
        if (name != key) continue;
        std::memcpy(out.bytes, data.data(), std::min(data.size(), sizeof out.bytes));
        out.result = kSMCSuccess;
        return kSMCReturnSuccess;
    }
    return kSMCReturnError;
}

}  // namespace telvo::smc
