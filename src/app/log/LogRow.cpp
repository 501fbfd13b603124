#include "app/log/LogRow.h"

namespace telvo::app {
namespace {

constexpr qsizetype kStampLength = 24;  // "YYYY-MM-dd HH:mm:ss.SSS:"
constexpr qsizetype kDateLength = 25;   // with the blank after it

bool isDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// What a regular expression's point does not match.
bool isLineTerminator(QChar c) {
    const char16_t u = c.unicode();
    return u == '\r' || u == '\n' || u == 0x0B || u == 0x0C || u == 0x85 || u == 0x2028 || u == 0x2029;
}

}  // namespace

bool beginsWithLogTimestamp(QStringView piece) {
    if (piece.size() < kStampLength) return false;
    static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd.ddd:";
    for (qsizetype i = 0; i < kStampLength; ++i) {
        const QChar c = piece[i];
        switch (kShape[i]) {
            case 'd':
                if (!isDigit(c)) return false;
                break;
            case '.':
                if (isLineTerminator(c) || c.isSurrogate()) return false;
                break;
            default:
                if (c.unicode() != char16_t(kShape[i])) return false;
        }
    }
    return true;
}

LogRow makeLogRow(QStringView piece) {
    LogRow row;
    if (beginsWithLogTimestamp(piece)) {
        const qsizetype split = piece.size() < kDateLength ? piece.size() : kDateLength;
        row.hasDate = true;
        row.date = piece.first(split).toString();
        row.data.reserve(piece.size() - split + 1);
        row.data.append(piece.sliced(split));
    } else {
        row.data.reserve(piece.size() + 1);
        row.data.append(piece);
    }
    row.data.append(QLatin1Char('\n'));
    return row;
}

std::vector<LogRow> splitLogText(QStringView text) {
    std::vector<LogRow> rows;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0) end = text.size();
        if (end > start) rows.push_back(makeLogRow(text.sliced(start, end - start)));
        start = end + 1;
    }
    return rows;
}

}  // namespace telvo::app
