#pragma once
// One row of the log viewer: a line of the daemon's log split into its time stamp (when the
// line begins with one) and its message, and how text is cut into rows.
#include <QString>
#include <QStringView>
#include <vector>

namespace telvo::app {

struct LogRow {
    // The line's first 25 characters (time stamp, colon and blank) when it begins with a time
    // stamp; a line of just the 24-character stamp and colon keeps those.
    QString date;
    bool hasDate = false;
    // The message followed by "\n".
    QString data;
};

// True when `piece` begins with "YYYY-MM-dd HH:mm:ss.SSS:" (digits, with any character in
// place of the point).
bool beginsWithLogTimestamp(QStringView piece);
// The row for one line (without its "\n").
LogRow makeLogRow(QStringView piece);
// Splits `text` at every "\n" and makes a row of each piece that is not empty, in order.
std::vector<LogRow> splitLogText(QStringView text);

}  // namespace telvo::app
