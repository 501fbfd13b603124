#include "app/log/LogSearch.h"

namespace telvo::app {
namespace {

bool isAscii(QStringView text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80) return false;
    return true;
}

}  // namespace

QString foldForSearch(QStringView text) {
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (QChar c : decomposed)
        if (!c.isMark()) out.append(c);
    return out.toCaseFolded();
}

bool logRowMatches(const LogRow& row, const QString& foldedNeedle) {
    if (foldedNeedle.isEmpty()) return true;
    // Most log lines are ASCII: their folded form is themselves, apart from case.
    if (isAscii(row.data)) return row.data.contains(foldedNeedle, Qt::CaseInsensitive);
    return foldForSearch(row.data).contains(foldedNeedle);
}

}  // namespace telvo::app
