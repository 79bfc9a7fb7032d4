#include "platform/clock_margin.h"

#include <algorithm>

namespace meterload {

void WakeMargin::Observe(std::chrono::microseconds lateness)
{
    // Threads sleeping on one clock at once each move the margin by a whole
    // step: a lost update would skew the share of late wake-ups it tracks.
    auto margin = margin_.load(std::memory_order_relaxed);
    for (;;) {
        const std::chrono::microseconds current(margin);
        const std::chrono::microseconds next =
            std::clamp(lateness > current ? current + kStepUp : current - kStepDown, kLeast, kMost);
        if (margin_.compare_exchange_weak(margin, next.count(), std::memory_order_relaxed)) {
            return;
        }
    }
}

}  // namespace meterload
