#pragma once
// An image view (status lights, passcode digits, the connection image): shows one named
// image centred in itself and remembers the name, so that the panels' tests can check names
// rather than pixels. An empty name shows nothing.
#include <QWidget>

namespace telvo::app {

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr) : QWidget(parent) {}
    const QString& imageName() const { return name_; }
    void setImageName(const QString& name);
    // The name the last paint drew.
    const QString& lastDrawnImage() const { return lastDrawn_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString name_, lastDrawn_;
};

}  // namespace telvo::app
