// The simulator's time: the system's clock, or a test's clock handed over
// through zqsim_set_clock. Timestamps never go backwards while one clock is
// in use.
#pragma once

#include "sim/zqsim_control.h"

#include <cstdint>

namespace zqsim {

class SimClock {
public:
    void Use(zqsim_now_us_fn nowUs, zqsim_sleep_ms_fn sleepMs, void* context);
    std::uint64_t NowUs();
    void SleepMs(std::uint32_t milliseconds);

private:
    zqsim_now_us_fn nowUs_ = nullptr;
    zqsim_sleep_ms_fn sleepMs_ = nullptr;
    void* context_ = nullptr;
    std::uint64_t last_ = 0;
};

}  // namespace zqsim
