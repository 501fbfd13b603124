#pragma once
// The label: its text in (0, 0, W, H), Helvetica 12, grey 0.251, with a white shadow one
// point below at alpha 0.6.
#include <QLabel>

#include "app/drawing/Canvas.h"

namespace telvo::app {

void paintLabelCell(Canvas& canvas, const QString& text, const QRectF& frame);

class TVSLabel : public QLabel {
    Q_OBJECT
public:
    explicit TVSLabel(QWidget* parent = nullptr) : QLabel(parent) {}
    const DrawLog& lastDraw() const { return log_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    DrawLog log_;
};

}  // namespace telvo::app
