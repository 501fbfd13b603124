#pragma once
// The parsers of what a drive answers to SMART commands: the checksum of a 512-byte data or
// threshold block, the register outputs carried in SCSI sense data (descriptor and fixed
// formats), the IDENTIFY DEVICE block and the NVMe health log page. Pure functions, safe on
// any input.
#include <cstddef>
#include <cstdint>
#include <string>

namespace telvo::smart {

inline constexpr size_t kBlockSize = 512;

// True when the 512 bytes sum to 0 modulo 256 (the last byte is the checksum).
bool validateBlock(const uint8_t* block, size_t size);

// The ATA status outputs of a command, found in its sense data.
struct AtaRegisters {
    bool found = false;  // false: the sense data carried no ATA return (or was truncated)
    uint8_t error = 0, status = 0, lbaMid = 0, lbaHigh = 0;
};
// Descriptor format (0x72/0x73, descriptor 0x09: mid at +9, high at +11 of the descriptor) or
// fixed format (0x70/0x71: error and status in bytes 3 and 4, mid and high in bytes 10 and 11).
AtaRegisters parseSense(const uint8_t* sense, size_t size);

// SMART RETURN STATUS from its registers: 0 healthy, 1 a threshold is exceeded, -1 neither
// (0x4F/0xC2 healthy, 0xF4/0x2C exceeded).
int smartStatusFromRegisters(const AtaRegisters& regs);

// The fields of an IDENTIFY DEVICE block used here. `valid` is false when the model or serial
// text is not printable ASCII; the texts are trimmed of blanks.
struct IdentifyInfo {
    bool valid = false;
    bool smartSupported = false;  // word 82 bit 0
    bool smartEnabled = false;    // word 85 bit 0
    std::string model, serial, firmware;
};
IdentifyInfo parseIdentify(const uint8_t* block, size_t size);

// The NVMe SMART / health information log page (at least 3 bytes used).
struct NvmeHealth {
    bool valid = false;
    uint8_t criticalWarning = 0;
    int temperatureCelsius = 0;  // kelvin of bytes 1 and 2, less 273
};
NvmeHealth parseNvmeHealth(const uint8_t* page, size_t size);

// A 512-byte ATA-style data block (revision 1, one attribute entry 194 with that temperature)
// standing for an NVMe drive's health log, so both kinds go through the same attribute code.
void nvmeAsAtaBlocks(const NvmeHealth& health, uint8_t* data, uint8_t* thresholds);

}  // namespace telvo::smart
