#include "app/update/ProgressIndicator.h"

#include <algorithm>
#include <cmath>

namespace telvo::app {

ProgressIndicator::ProgressIndicator(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    apply();
}

void ProgressIndicator::setDoubleValue(double value) {
    value_ = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
    apply();
}

void ProgressIndicator::setIndeterminate(bool indeterminate) {
    indeterminate_ = indeterminate;
    apply();
}

void ProgressIndicator::startAnimation() {
    animating_ = true;
    apply();
}

void ProgressIndicator::stopAnimation() {
    animating_ = false;
    apply();
}

void ProgressIndicator::apply() {
    if (indeterminate_ && animating_) {
        if (maximum() != 0) setRange(0, 0);
        return;
    }
    if (maximum() != 1000) setRange(0, 1000);
    const int shown = indeterminate_ ? 0 : int(std::lround(value_ * 10));
    if (value() != shown) setValue(shown);
}

}  // namespace telvo::app
