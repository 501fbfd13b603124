#include "collectors/storage/SMARTStatCollectorAttribute.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace telvo {
namespace {

std::string textf(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string textf(const char* f, ...) {
    char text[128];
    va_list args;
    va_start(args, f);
    vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

std::string hoursMinutes(uint64_t seconds) {
    return textf("%" PRIu64 " hours, %" PRIu64 " minutes", seconds / 3600, (seconds % 3600) / 60);
}

}  // namespace

uint64_t SMARTStatCollectorAttribute::rawvalue(const uint8_t* entry) const {
    const int f = effectiveFormat();
    uint64_t r = 0;
    if (f == 3 || f == 5) {
        for (int i = 10; i >= 3; --i) r = (r << 8) | entry[i];
    } else {
        for (int i = 10; i >= 5; --i) r = (r << 8) | entry[i];
    }
    return r;
}

void SMARTStatCollectorAttribute::updateWithAttribute(const uint8_t* entry, const uint8_t* threshold,
                                                      double sampleID) {
    const uint64_t r = rawvalue(entry);
    auto rawByte = [r](int k) { return static_cast<unsigned>((r >> (8 * k)) & 0xff); };
    auto word = [&](int k) { return rawByte(2 * k) + 256u * rawByte(2 * k + 1); };
    double n = 0;
    switch (effectiveFormat()) {
        case 1:
            value = textf("%d %d %d %d %d %d", rawByte(0), rawByte(1), rawByte(2), rawByte(3), rawByte(4), rawByte(5));
            n = static_cast<double>(r);
            break;
        case 2:
            value = textf("%u %u %u", word(2), word(1), word(0));
            n = static_cast<double>(r);
            break;
        case 3:
        case 8:
            value = textf("%" PRIu64, r);
            n = static_cast<double>(r);
            break;
        case 4:
            value = textf("0x%012" PRIx64, r);
            n = static_cast<double>(r);
            break;
        case 5:
            value = textf("0x%016" PRIx64, r);
            n = static_cast<double>(r);
            break;
        case 6:
            value = textf("%u", word(0));
            n = word(0);
            break;
        case 7:
            value = textf("%d", static_cast<int>(word(0) / 10));
            n = word(0);
            break;
        // Hours: 64-bit arithmetic on the 48-bit raw value (30 R and 60 R do not fit 32 bits).
        case 9:
            value = hoursMinutes(r);
            n = static_cast<double>(r);
            break;
        case 10:
            value = hoursMinutes(r * 60);
            n = static_cast<double>(r);
            break;
        case 11:
            value = hoursMinutes(r * 30);
            n = static_cast<double>(r);
            break;
        default:
            n = 0;
            break;
    }
    if (static_cast<int64_t>(r) != lastRawValue) lastRawValue = static_cast<int64_t>(r);
    lastFormatted = n;
    current_.flag = static_cast<uint16_t>(entry[1] | (entry[2] << 8));
    current_.current = entry[3];
    current_.worst = entry[4];
    current_.threshold = threshold[1];
    (void)sampleID;
}

int SMARTStatCollectorAttribute::status() const {
    if (current_.threshold > current_.current) return 1;
    if (current_.threshold > current_.worst) return 2;
    return 0;
}

std::string SMARTStatCollectorAttribute::description() const {
    return textf("name = %s, attributeID = %i, value = %s, flag = %i, current = %.0f, worst = %.0f, threshold = %.0f",
                  name.c_str(), attributeID, value.c_str(), current_.flag, current_.current, current_.worst,
                  current_.threshold);
}

}  // namespace telvo
