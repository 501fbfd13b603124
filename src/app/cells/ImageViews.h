#pragma once
// The image-drawn backgrounds: views that draw one named image at their origin (the
// bottom-left corner of the design's unflipped view), and the passcode bar that stretches
// "buttonarea-background" over itself. Each records the image it drew.
#include <QWidget>

#include "app/drawing/Canvas.h"

namespace telvo::app {

// The image at the origin of a view `size` big.
void paintImageAtOrigin(Canvas& canvas, const QString& name, const QSizeF& size, double alpha = 1.0);
// Mode 1 draws "password-background"; every other mode "passcode-background".
QString passcodeBackgroundImageName(int mode);

class ImageBackgroundView : public QWidget {
    Q_OBJECT
public:
    const DrawLog& lastDraw() const { return log_; }
    // The image this view draws now.
    virtual QString imageName() const = 0;

protected:
    explicit ImageBackgroundView(QWidget* parent) : QWidget(parent) {}
    void paintEvent(QPaintEvent*) override;
    virtual void paint(Canvas& canvas);

private:
    DrawLog log_;
};

class PasscodeBackground : public ImageBackgroundView {
    Q_OBJECT
public:
    explicit PasscodeBackground(QWidget* parent = nullptr) : ImageBackgroundView(parent) {}
    int mode() const { return mode_; }
    void setMode(int mode) { mode_ = mode; update(); }
    QString imageName() const override { return passcodeBackgroundImageName(mode_); }

private:
    int mode_ = 0;
};

class TVSAboutBackground : public ImageBackgroundView {
    Q_OBJECT
public:
    explicit TVSAboutBackground(QWidget* parent = nullptr) : ImageBackgroundView(parent) {}
    QString imageName() const override { return QStringLiteral("window-about"); }
};

class TVSSheetHeader : public ImageBackgroundView {
    Q_OBJECT
public:
    explicit TVSSheetHeader(QWidget* parent = nullptr) : ImageBackgroundView(parent) {}
    QString imageName() const override { return QStringLiteral("sheet-header"); }
};

class InstallBackground : public ImageBackgroundView {
    Q_OBJECT
public:
    explicit InstallBackground(QWidget* parent = nullptr) : ImageBackgroundView(parent) {}
    QString imageName() const override { return QStringLiteral("welcome-overlay"); }
};

class TVSPasscodeBar : public ImageBackgroundView {
    Q_OBJECT
public:
    explicit TVSPasscodeBar(QWidget* parent = nullptr) : ImageBackgroundView(parent) {}
    QString imageName() const override { return QStringLiteral("buttonarea-background"); }

protected:
    void paint(Canvas& canvas) override;
};

}  // namespace telvo::app
