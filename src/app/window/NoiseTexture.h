#pragma once
// The title bar's noise: 124 x 124 grey bytes from a small linear congruential generator of
// our own seeded with 120 (one step per byte, its low byte kept), made once per process.
// Not for anything but looks: it is neither random nor secret.
#include <QImage>
#include <cstdint>

namespace telvo::app {

class NoiseGenerator {
public:
    explicit NoiseGenerator(uint32_t seed) : state_(seed) {}
    // The next value, 0 to 32767.
    int next() {
        state_ = state_ * 1103515245u + 12345u;
        return int((state_ / 65536u) % 32768u);
    }

private:
    uint32_t state_;
};

// The 124 x 124 grey texture (Format_Grayscale8).
const QImage& noiseTexture();

}  // namespace telvo::app
