#include "app/window/NoiseTexture.h"

namespace telvo::app {

const QImage& noiseTexture() {
    static const QImage texture = [] {
        constexpr int kSide = 124;
        QImage image(kSide, kSide, QImage::Format_Grayscale8);
        NoiseGenerator generator(120);
        for (int y = 0; y < kSide; ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < kSide; ++x) row[x] = uchar(generator.next() & 0xff);
        }
        return image;
    }();
    return texture;
}

}  // namespace telvo::app
