#pragma once
// Formats and parses moments (seconds since 1970) with the fixed date patterns of the log
// files: "yyyy" year, "MM" month, "dd" day, "HH" hour 00-23, "mm" minute, "ss" second,
// "SSS" milliseconds, text in single quotes taken literally ("''" is one quote; an unpaired
// quote adds nothing), any other character as it is. In UTC or in the local time zone.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvo {

class LogDateFormatter {
public:
    LogDateFormatter(std::string dateFormat, bool utc);

    const std::string& dateFormat() const { return dateFormat_; }
    bool isUTC() const { return utc_; }

    std::string stringFromDate(double seconds) const;
    // The moment the whole text names, or none when it does not follow the pattern exactly.
    std::optional<double> dateFromString(std::string_view text) const;

private:
    struct Piece {
        char field = 0;  // 'y', 'M', 'd', 'H', 'm', 's', 'S', or 0 for literal text
        size_t width = 0;
        std::string literal;
    };
    std::string dateFormat_;
    bool utc_;
    std::vector<Piece> pieces_;
};

using LogDateFormatterPtr = std::shared_ptr<const LogDateFormatter>;

}  // namespace telvo
