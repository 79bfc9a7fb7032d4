// The main dialog's background: a vertical grey gradient, white at the top,
// painted in bands 10 pixels high.
#pragma once

#include <functional>

namespace meterload {

inline constexpr int kGradientBandHeight = 10;

// The grey level (0 to 255) of band `band` (counted from 0 at the top) in a
// client area `height` pixels high; `height` must be positive.
int GradientGrey(int band, int height);

// Calls `fillBand` for each band from the top down while the band's top lies
// inside the client area. The height is asked for again before every band, so
// a client area that shrinks while painting stops the bands early and one of
// zero height paints nothing.
void PaintGradientBands(const std::function<int()>& clientHeight,
                        const std::function<void(int top, int grey)>& fillBand);

}  // namespace meterload
