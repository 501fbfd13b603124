#pragma once
// How a cell draws a title: family and size (one point is one pixel at scale 1), grey level
// or colour, alignment, tail truncation and an optional shadow.
#include <QColor>
#include <QPointF>
#include <QString>

namespace telvo::app {

struct TextStyle {
    QString family = QStringLiteral("Helvetica");
    double size = 11;
    QColor colour = QColor::fromRgbF(0, 0, 0);
    Qt::Alignment alignment = Qt::AlignLeft;
    bool truncateTail = true;
    bool shadow = false;
    QColor shadowColour = QColor::fromRgbF(1, 1, 1, 0.6);
    // Downwards on the screen, whatever the view's orientation.
    QPointF shadowOffset = QPointF(0, 1);

    static QColor grey(double white, double alpha = 1.0) { return QColor::fromRgbF(white, white, white, alpha); }
};

// The installed face standing for a design family: Helvetica and Helvetica Neue are drawn
// with Liberation Sans, which has the same metrics; Menlo with DejaVu Sans Mono.
QString installedFamily(const QString& family);

}  // namespace telvo::app
