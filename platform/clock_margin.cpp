#include "platform/clock_margin.h"

#include <algorithm>

namespace meterload {

void WakeMargin::Observe(std::chrono::microseconds lateness)
{
    const std::chrono::microseconds margin = Get();
    const std::chrono::microseconds next = lateness > margin ? margin + kStepUp : margin - kStepDown;
    margin_.store(std::clamp(next, kLeast, kMost).count(), std::memory_order_relaxed);
}

}  // namespace meterload
