// The simulator's time: the system's clock, or a test's clock handed over
// through zqsim_set_clock. Timestamps never go backwards while one clock is
// in use.
#pragma once

#include "sim/zqsim_control.h"

#include <cstdint>

namespace zqsim {

// A wait on the clock that was in use when it was taken: it can run while
// another thread hands over a new clock.
struct ClockWait {
    zqsim_sleep_ms_fn sleepMs = nullptr;  // null: the system's clock
    void* context = nullptr;
    void Run(std::uint32_t milliseconds) const;
};

class SimClock {
public:
    void Use(zqsim_now_us_fn nowUs, zqsim_sleep_ms_fn sleepMs, void* context);
    std::uint64_t NowUs();
    ClockWait Wait() const { return ClockWait{sleepMs_, context_}; }

private:
    zqsim_now_us_fn nowUs_ = nullptr;
    zqsim_sleep_ms_fn sleepMs_ = nullptr;
    void* context_ = nullptr;
    std::uint64_t last_ = 0;
};

}  // namespace zqsim
