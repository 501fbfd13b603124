#include "foundation/logging/LogDateFormatter.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace telvo {

namespace {
bool isPatternLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
}  // namespace

LogDateFormatter::LogDateFormatter(std::string dateFormat, bool utc) : dateFormat_(std::move(dateFormat)), utc_(utc) {
    const std::string& f = dateFormat_;
    auto addLiteral = [&](const std::string& text) {
        if (text.empty()) return;
        if (!pieces_.empty() && pieces_.back().field == 0) {
            pieces_.back().literal += text;
        } else {
            pieces_.push_back(Piece{0, 0, text});
        }
    };
    size_t i = 0;
    while (i < f.size()) {
        char c = f[i];
        if (c == '\'') {
            if (i + 1 < f.size() && f[i + 1] == '\'') {
                addLiteral("'");
                i += 2;
                continue;
            }
            size_t end = i + 1;
            std::string text;
            while (end < f.size()) {
                if (f[end] == '\'') {
                    if (end + 1 < f.size() && f[end + 1] == '\'') {
                        text += '\'';
                        end += 2;
                        continue;
                    }
                    break;
                }
                text += f[end++];
            }
            addLiteral(text);
            i = end < f.size() ? end + 1 : end;
        } else if (isPatternLetter(c)) {
            size_t end = i;
            while (end < f.size() && f[end] == c) ++end;
            switch (c) {
            case 'y': case 'M': case 'd': case 'H': case 'm': case 's': case 'S':
                pieces_.push_back(Piece{c, end - i, {}});
                break;
            default:
                addLiteral(f.substr(i, end - i));
            }
            i = end;
        } else {
            addLiteral(std::string(1, c));
            ++i;
        }
    }
}

std::string LogDateFormatter::stringFromDate(double seconds) const {
    // Whole milliseconds, truncated (a small allowance keeps 0.123 from reading as 0.122999).
    double totalMillis = std::floor(seconds * 1000.0 + 1e-4);
    double whole = std::floor(totalMillis / 1000.0);
    int millis = int(totalMillis - whole * 1000.0);
    if (millis > 999) millis = 999;
    if (millis < 0) millis = 0;
    time_t t = time_t(whole);
    struct tm tm {};
    if (utc_) {
        gmtime_r(&t, &tm);
    } else {
        localtime_r(&t, &tm);
    }
    std::string out;
    char buffer[32];
    for (const Piece& p : pieces_) {
        long value = 0;
        switch (p.field) {
        case 0: out += p.literal; continue;
        case 'y': value = tm.tm_year + 1900; break;
        case 'M': value = tm.tm_mon + 1; break;
        case 'd': value = tm.tm_mday; break;
        case 'H': value = tm.tm_hour; break;
        case 'm': value = tm.tm_min; break;
        case 's': value = tm.tm_sec; break;
        case 'S': {
            // Fractions of a second: the first `width` digits of the milliseconds.
            std::snprintf(buffer, sizeof buffer, "%03d", millis);
            std::string digits = buffer;
            while (digits.size() < p.width) digits += '0';
            out += digits.substr(0, p.width);
            continue;
        }
        }
        std::snprintf(buffer, sizeof buffer, "%0*ld", int(p.width), value);
        out += buffer;
    }
    return out;
}

std::optional<double> LogDateFormatter::dateFromString(std::string_view text) const {
    struct tm tm {};
    tm.tm_mday = 1;
    tm.tm_year = 70;
    tm.tm_isdst = -1;
    int millis = 0;
    size_t pos = 0;
    for (const Piece& p : pieces_) {
        if (p.field == 0) {
            if (text.substr(pos, p.literal.size()) != p.literal) return std::nullopt;
            pos += p.literal.size();
            continue;
        }
        if (pos + p.width > text.size()) return std::nullopt;
        long value = 0;
        for (size_t k = 0; k < p.width; ++k) {
            char c = text[pos + k];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        pos += p.width;
        switch (p.field) {
        case 'y': tm.tm_year = int(value) - 1900; break;
        case 'M': if (value < 1 || value > 12) return std::nullopt; tm.tm_mon = int(value) - 1; break;
        case 'd': if (value < 1 || value > 31) return std::nullopt; tm.tm_mday = int(value); break;
        case 'H': if (value > 23) return std::nullopt; tm.tm_hour = int(value); break;
        case 'm': if (value > 59) return std::nullopt; tm.tm_min = int(value); break;
        case 's': if (value > 60) return std::nullopt; tm.tm_sec = int(value); break;
        case 'S': millis = int(value); break;
        }
    }
    if (pos != text.size()) return std::nullopt;
    int day = tm.tm_mday, month = tm.tm_mon;
    time_t t = utc_ ? timegm(&tm) : mktime(&tm);
    if (t == time_t(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11)) return std::nullopt;
    // Reject days the month does not have (31 April would roll into May).
    if (tm.tm_mday != day || tm.tm_mon != month) return std::nullopt;
    return double(t) + millis / 1000.0;
}

}  // namespace telvo
