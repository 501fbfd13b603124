#pragma once
// SMARTStatCollectorAttribute: the latest reading of one attribute of a drive's SMART table
// (normalised current and worst values, threshold, flags) and its raw value as a display text
// chosen by a format number (6 by default: the low 16 bits in decimal).
#include <cstdint>
#include <string>

namespace telvo {

// The current reading.
struct smartattribute {
    uint16_t flag = 0;
    double current = -1.0, worst = -1.0, threshold = -1.0;
    uint8_t rawvalue[6] = {};
    double formatted = 0, time = 0, sampleID = 0;
    int empty = 0;
};

class SMARTStatCollectorAttribute {
public:
    static constexpr size_t kEntrySize = 12;

    // `entry` and `threshold` are 12-byte ATA SMART table entries.
    void updateWithAttribute(const uint8_t* entry, const uint8_t* threshold, double sampleID);
    // The raw value of an entry under the effective format (formats 3 and 5: bytes 3 to 10).
    uint64_t rawvalue(const uint8_t* entry) const;
    // 1 when the threshold is above the current value, else 2 when above the worst, else 0.
    int status() const;
    int defaultFormat() const { return 6; }
    int effectiveFormat() const { return format == -1 ? defaultFormat() : format; }
    const smartattribute& currentValue() const { return current_; }
    std::string description() const;

    int attributeID = 0;
    int format = -1;
    std::string name;
    std::string value;
    int64_t lastRawValue = 0;
    // The number that goes with the text of the last reading ("fotmatted").
    double lastFormatted = 0;

private:
    smartattribute current_;
};

}  // namespace telvo
