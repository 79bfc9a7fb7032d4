// A clock whose time moves only when someone sleeps on it, so that tests run
// the procedures instantly and can check every pause.
#pragma once

#include "platform/clock.h"

#include <chrono>
#include <vector>

namespace meterload::testing {

class VirtualClock final : public Clock {
public:
    // A pause whose deadline lies ahead wakes this much after it, as a real
    // system's timer does; a deadline already passed returns at once, as on
    // the real clock.
    void SetLateness(std::chrono::microseconds lateness) { lateness_ = lateness; }

    void SleepUntil(std::chrono::microseconds deadline) override
    {
        const std::chrono::microseconds ahead = deadline - now_;
        sleeps_.push_back(ahead.count() > 0 ? ahead : std::chrono::microseconds(0));
        if (ahead.count() > 0) {
            now_ = deadline + lateness_;
        }
    }

    std::chrono::microseconds Now() const override { return now_; }

    void Advance(std::chrono::microseconds by) { now_ += by; }

    // Every pause in the order they were made: from the moment it was asked
    // for to its deadline (0 for a deadline already passed).
    const std::vector<std::chrono::microseconds>& Sleeps() const { return sleeps_; }

private:
    std::chrono::microseconds now_{1'000'000};
    std::chrono::microseconds lateness_{0};
    std::vector<std::chrono::microseconds> sleeps_;
};

}  // namespace meterload::testing
