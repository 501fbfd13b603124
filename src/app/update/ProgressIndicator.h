#pragma once
// The update windows' progress bar: a value from 0 to 100 kept as a floating-point number
// (the bar shows it in tenths), or indeterminate, with an animation that runs only while
// started (an indeterminate bar that is not animating stands still and empty).
#include <QProgressBar>

namespace telvo::app {

class ProgressIndicator : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    double doubleValue() const { return value_; }
    void setDoubleValue(double value);
    bool isIndeterminate() const { return indeterminate_; }
    void setIndeterminate(bool indeterminate);
    bool isAnimating() const { return animating_; }
    void startAnimation();
    void stopAnimation();

private:
    void apply();

    double value_ = 0;
    bool indeterminate_ = false;
    bool animating_ = false;
};

}  // namespace telvo::app
