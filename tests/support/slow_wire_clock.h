// The simulated instrument's view of a virtual clock on which every call
// over the wire takes time, as a write over a real bus does.
#pragma once

#include "platform/clock.h"
#include "tests/support/virtual_clock.h"

#include <chrono>

namespace meterload::testing {

// Each time the simulator reads the clock to stamp an event, time moves on
// by `duration`. A write's own event is the last one it stamps, so a write
// ends `duration` after its stamp; a read is stamped when it begins.
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
