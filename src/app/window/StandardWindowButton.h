#pragma once
// Stand-ins for the window's standard close, minimise and zoom buttons, which the title-bar
// window places by its margin, separation and centring rules (there is no full-screen
// button). Each is a 14 x 14 point round button that acts on its window.
#include <QAbstractButton>

namespace telvo::app {

class StandardWindowButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Close, Miniaturize, Zoom };
    static constexpr int kSize = 14;

    StandardWindowButton(Kind kind, QWidget* parent);
    Kind kind() const { return kind_; }
    QSize sizeHint() const override { return QSize(kSize, kSize); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Kind kind_;
};

}  // namespace telvo::app
