#include "app/gradient.h"

namespace meterload {

int GradientGrey(int band, int height) {
    // Division truncates toward zero, so the level falls by at most 127 over
    // the whole height and never wraps below 128.
    const int q = (-1270 * band) / height;
    return ((q + 255) % 256 + 256) % 256;
}

void PaintGradientBands(const std::function<int()>& clientHeight,
                        const std::function<void(int top, int grey)>& fillBand) {
    for (int band = 0;; ++band) {
        const int height = clientHeight();
        const int top = kGradientBandHeight * band;
        if (top >= height) {
            return;
        }
        fillBand(top, GradientGrey(band, height));
    }
}

}  // namespace meterload
