#include "app/controls/LocalizedButton.h"

#include <QFontMetricsF>
#include <cmath>

#include "update/KXRUpdaterLocalizedString.h"

namespace telvo::app {

void LocalizedButton::awakeFromNib() {
    localize();
    resize();
}

void LocalizedButton::localize() {
    localizableString_ = text();
    setText(QString::fromStdString(
        update::KXRUpdaterLocalizedString(localizableString_.toStdString(), std::string(), "updater")));
}

void LocalizedButton::resize() {
    QRect frame = geometry();
    const int oldWidth = frame.width();  // widget widths are whole numbers already
    const double titleWidth = QFontMetricsF(font()).horizontalAdvance(text());
    int newWidth = int(std::ceil(titleWidth + kTitlePadding));
    if (oldWidth > newWidth) newWidth = oldWidth;
    if (property("autoresizingMask").toInt() & 1) frame.moveLeft(frame.left() - (newWidth - oldWidth));
    frame.setWidth(newWidth);
    setGeometry(frame);
}

}  // namespace telvo::app
