#include "platform/clock.h"

#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace meterload {
namespace {

// The kernel wakes a sleeper up to a few hundred microseconds late; over the
// thousands of pauses of an image transfer that would add up to seconds. So
// sleep to just before the deadline and give up the processor until it has
// passed.
constexpr std::chrono::microseconds kFinalStretch{300};

class PosixClock final : public Clock {
public:
    PosixClock()
    {
#ifdef __linux__
        // The default 50 us of timer slack lets the kernel batch our wake-ups late.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    }

    void Sleep(std::chrono::milliseconds duration) override
    {
        const auto deadline = std::chrono::steady_clock::now() + duration;
        if (duration > kFinalStretch) {
            std::this_thread::sleep_until(deadline - kFinalStretch);
        }
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }

    std::chrono::microseconds Now() const override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

}  // namespace

Clock& SystemClock()
{
    static PosixClock clock;
    return clock;
}

}  // namespace meterload
