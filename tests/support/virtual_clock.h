// A clock whose time moves only when someone sleeps on it, so that tests run
// the procedures instantly and can check every pause.
#pragma once

#include "platform/clock.h"

#include <chrono>
#include <vector>

namespace meterload::testing {

class VirtualClock final : public Clock {
public:
    void Sleep(std::chrono::milliseconds duration) override
    {
        sleeps_.push_back(duration);
        now_ += duration;
    }

    std::chrono::microseconds Now() const override { return now_; }

    void Advance(std::chrono::microseconds by) { now_ += by; }

    // Every sleep in the order they were made.
    const std::vector<std::chrono::milliseconds>& Sleeps() const { return sleeps_; }

private:
    std::chrono::microseconds now_{1'000'000};
    std::vector<std::chrono::milliseconds> sleeps_;
};

}  // namespace meterload::testing
