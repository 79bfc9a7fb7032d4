#include "platform/clock.h"

#include "platform/clock_margin.h"

#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace meterload {
namespace {

using std::chrono::microseconds;
using std::chrono::steady_clock;

// The default 50 us of timer slack lets the kernel batch our wake-ups late.
// The slack belongs to each thread, and every thread that updates an
// instrument sleeps on this one clock: each sets its own before its first sleep.
void TightenTimerSlack()
{
#ifdef __linux__
    thread_local bool tightened = false;
    if (!tightened) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        tightened = true;
    }
#endif
}

// The kernel wakes a sleeper some tens of microseconds late; over the
// thousands of pauses of an image transfer that would add up to a noticeable
// share. So sleep to just before the deadline and give up the processor until
// it has passed.
class PosixClock final : public Clock {
public:
    void SleepUntil(microseconds deadline) override
    {
        TightenTimerSlack();
        const microseconds wake = deadline - margin_.Get();
        if (Now() < wake) {
            std::this_thread::sleep_until(steady_clock::time_point(wake));
            margin_.Observe(Now() - wake);
        }
        while (Now() < deadline) {
            std::this_thread::yield();
        }
    }

    microseconds Now() const override
    {
        return std::chrono::duration_cast<microseconds>(steady_clock::now().time_since_epoch());
    }

private:
    WakeMargin margin_;
};

}  // namespace

Clock& SystemClock()
{
    static PosixClock clock;
    return clock;
}

}  // namespace meterload
