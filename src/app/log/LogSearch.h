#pragma once
// The log viewer's filter: a row matches when its message holds the search text, ignoring
// case and diacritics (both sides decomposed, combining marks dropped, case folded). The time
// stamp is never searched.
#include <QString>
#include <QStringView>

#include "app/log/LogRow.h"

namespace telvo::app {

// `text` decomposed, without its combining marks, case folded.
QString foldForSearch(QStringView text);
// Whether `row`'s message holds `foldedNeedle` (the search text through foldForSearch).
bool logRowMatches(const LogRow& row, const QString& foldedNeedle);

}  // namespace telvo::app
