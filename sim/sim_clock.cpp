#include "sim/sim_clock.h"

#include "platform/clock.h"

#include <chrono>

namespace zqsim {

void SimClock::Use(zqsim_now_us_fn nowUs, zqsim_sleep_ms_fn sleepMs, void* context)
{
    nowUs_ = nowUs;
    sleepMs_ = sleepMs;
    context_ = context;
    // A new clock is a new time base; monotonic from here on.
    last_ = 0;
}

std::uint64_t SimClock::NowUs()
{
    std::uint64_t now = 0;
    if (nowUs_ != nullptr) {
        now = nowUs_(context_);
    } else {
        now = static_cast<std::uint64_t>(meterload::SystemClock().Now().count());
    }
    if (now < last_) {
        now = last_;
    }
    last_ = now;
    return now;
}

void ClockWait::Run(std::uint32_t milliseconds) const
{
    if (sleepMs != nullptr) {
        sleepMs(context, milliseconds);
    } else {
        meterload::SystemClock().Sleep(std::chrono::milliseconds(milliseconds));
    }
}

}  // namespace zqsim
