#pragma once
// The installer's large button: "welcome-button" ("-down" while pressed) cut at every draw
// into a 30-point left cap, a centre and a 30-point right cap and stretched over the frame,
// with its title centred in white Helvetica Neue 15.
#include <QAbstractButton>

#include "app/drawing/Canvas.h"

namespace telvo::app {

struct InstallButtonCell {
    bool highlighted = false;
    QString title;
};

// The three slices for a frame `width` wide; the centre is min(width, source width) - 60 wide
// (never negative) and the caps never overlap.
ImageCacheItem installButtonSlices(const QImage& source, double width);
void paintInstallButtonCell(Canvas& canvas, const InstallButtonCell& cell, const QRectF& frame);

class InstallButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit InstallButton(QWidget* parent = nullptr) : QAbstractButton(parent) {}
    const DrawLog& lastDraw() const { return log_; }
    QSize sizeHint() const override { return QSize(160, 40); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    DrawLog log_;
};

}  // namespace telvo::app
