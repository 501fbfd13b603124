#include "platform/smart/SmartData.h"

#include <cstring>

namespace telvo::smart {

bool validateBlock(const uint8_t* block, size_t size) {
    if (!block || size < kBlockSize) return false;
    uint8_t sum = 0;
    for (size_t i = 0; i < kBlockSize; ++i) sum = static_cast<uint8_t>(sum + block[i]);
    return sum == 0;
}

AtaRegisters parseSense(const uint8_t* sense, size_t size) {
    AtaRegisters r;
    if (!sense || size < 1) return r;
    const uint8_t code = sense[0] & 0x7f;
    if (code == 0x72 || code == 0x73) {
        if (size < 8) return r;
        size_t additional = sense[7];
        size_t end = 8 + additional;
        if (end > size) end = size;
        for (size_t at = 8; at + 2 <= end;) {
            const uint8_t type = sense[at];
            const size_t length = sense[at + 1];
            if (type == 0x09) {
                if (at + 14 > end || length < 12) return r;  // truncated descriptor
                r.error = sense[at + 3];
                r.lbaMid = sense[at + 9];
                r.lbaHigh = sense[at + 11];
                r.status = sense[at + 13];
                r.found = true;
                return r;
            }
            at += 2 + length;
        }
        return r;
    }
    if (code == 0x70 || code == 0x71) {
        if (size < 18) return r;
        r.error = sense[3];
        r.status = sense[4];
        r.lbaMid = sense[10];
        r.lbaHigh = sense[11];
        r.found = true;
    }
    return r;
}

int smartStatusFromRegisters(const AtaRegisters& regs) {
    if (!regs.found) return -1;
    if (regs.lbaMid == 0x4f && regs.lbaHigh == 0xc2) return 0;
    if (regs.lbaMid == 0xf4 && regs.lbaHigh == 0x2c) return 1;
    return -1;
}

namespace {

// An ATA string: byte-swapped 16-bit words; empty and false when not printable ASCII.
bool ataString(const uint8_t* block, size_t firstWord, size_t words, std::string& out) {
    std::string s;
    for (size_t w = firstWord; w < firstWord + words; ++w) {
        s += static_cast<char>(block[2 * w + 1]);
        s += static_cast<char>(block[2 * w]);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0' || s.back() == '\t')) s.pop_back();
    size_t b = s.find_first_not_of(" \t");
    s = b == std::string::npos ? "" : s.substr(b);
    for (char c : s)
        if (c < 0x20 || c > 0x7e) return false;
    out = s;
    return true;
}

}  // namespace

IdentifyInfo parseIdentify(const uint8_t* block, size_t size) {
    IdentifyInfo info;
    if (!block || size < kBlockSize) return info;
    const uint16_t w82 = static_cast<uint16_t>(block[164] | (block[165] << 8));
    const uint16_t w85 = static_cast<uint16_t>(block[170] | (block[171] << 8));
    // A word of all ones is not implemented.
    info.smartSupported = w82 != 0xffff && (w82 & 1);
    info.smartEnabled = info.smartSupported && (w85 & 1);
    info.valid = ataString(block, 10, 10, info.serial) && ataString(block, 23, 4, info.firmware) &&
                 ataString(block, 27, 20, info.model);
    if (!info.valid) info.model.clear(), info.serial.clear(), info.firmware.clear();
    return info;
}

NvmeHealth parseNvmeHealth(const uint8_t* page, size_t size) {
    NvmeHealth h;
    if (!page || size < 3) return h;
    h.criticalWarning = page[0];
    const int kelvin = page[1] | (page[2] << 8);
    h.temperatureCelsius = kelvin - 273;
    h.valid = true;
    return h;
}

void nvmeAsAtaBlocks(const NvmeHealth& health, uint8_t* data, uint8_t* thresholds) {
    memset(data, 0, kBlockSize);
    memset(thresholds, 0, kBlockSize);
    data[0] = 1;
    uint8_t* entry = data + 2;
    entry[0] = 194;
    entry[3] = 100;
    entry[4] = 100;
    const int t = health.temperatureCelsius < 0 ? 0 : health.temperatureCelsius;
    entry[5] = static_cast<uint8_t>(t & 0xff);
    entry[6] = static_cast<uint8_t>((t >> 8) & 0xff);
    thresholds[0] = 1;
    thresholds[2] = 194;
    uint8_t sum = 0;
    for (size_t i = 0; i < kBlockSize - 1; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    data[kBlockSize - 1] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (size_t i = 0; i < kBlockSize - 1; ++i) sum = static_cast<uint8_t>(sum + thresholds[i]);
    thresholds[kBlockSize - 1] = static_cast<uint8_t>(-sum);
}

}  // namespace telvo::smart
