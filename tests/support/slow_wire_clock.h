// The simulated instrument's view of a virtual clock on which every call
// over the wire takes time, as a write over a real bus does.
#pragma once

#include "platform/clock.h"
#include "tests/support/virtual_clock.h"

#include <chrono>

namespace meterload::testing {

// Each time the simulator reads the clock, time moves on by `duration`, so
// every call on the wire takes that long at least.
class SlowWireClock final : public Clock {
public:
    SlowWireClock(VirtualClock& clock, std::chrono::microseconds duration) : clock_(clock), duration_(duration) {}

    void SleepUntil(std::chrono::microseconds deadline) override { clock_.SleepUntil(deadline); }

    std::chrono::microseconds Now() const override
    {
        const std::chrono::microseconds now = clock_.Now();
        clock_.Advance(duration_);
        return now;
    }

private:
    VirtualClock& clock_;
    std::chrono::microseconds duration_;
};

}  // namespace meterload::testing
