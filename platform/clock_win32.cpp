// The default Windows timer rounds Sleep(5) and Sleep(10) up to a 15.6 ms tick,
// which would double the time of an image transfer. A high-resolution waitable
// timer keeps the pace; where it is missing, timeBeginPeriod(1) is the fall-back.
// Either wakes up to a millisecond late, so every pause ends by yielding until
// its deadline has passed.
#include "platform/clock.h"

#include "platform/clock_margin.h"

#include <windows.h>
#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace meterload {
namespace {

using std::chrono::microseconds;

class WindowsClock final : public Clock {
public:
    WindowsClock()
    {
        QueryPerformanceFrequency(&frequency_);
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS);
        if (timer_ == nullptr) {
            periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        }
    }

    ~WindowsClock() override
    {
        if (timer_ != nullptr) {
            CloseHandle(timer_);
        }
        if (periodRaised_) {
            timeEndPeriod(1);
        }
    }

    WindowsClock(const WindowsClock&) = delete;
    WindowsClock& operator=(const WindowsClock&) = delete;

    void SleepUntil(microseconds deadline) override
    {
        const microseconds wake = deadline - margin_.Get();
        const microseconds now = Now();
        if (now < wake) {
            const microseconds asked = SleepFor(wake - now);
            if (asked.count() > 0) {
                margin_.Observe(Now() - (now + asked));
            }
        }
        while (Now() < deadline) {
            SwitchToThread();
        }
    }

    microseconds Now() const override
    {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        const long long seconds = counter.QuadPart / frequency_.QuadPart;
        const long long rest = counter.QuadPart % frequency_.QuadPart;
        return microseconds(seconds * 1000000 + rest * 1000000 / frequency_.QuadPart);
    }

private:
    // Sleeps about `duration`, never longer on purpose; returns what it asked
    // the system for (nothing when the timer could not be set, or when the
    // whole-millisecond fall-back has less than a millisecond to sleep).
    microseconds SleepFor(microseconds duration)
    {
        if (timer_ != nullptr) {
            LARGE_INTEGER due;
            due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10;  // relative, 100 ns units
            if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0) {
                return duration;
            }
            return microseconds(0);
        }
        const auto whole = static_cast<DWORD>(duration.count() / 1000);
        if (whole == 0) {
            return microseconds(0);
        }
        ::Sleep(whole);
        return std::chrono::milliseconds(whole);
    }

    LARGE_INTEGER frequency_{};
    HANDLE timer_ = nullptr;
    bool periodRaised_ = false;
    WakeMargin margin_;
};

}  // namespace

Clock& SystemClock()
{
    static WindowsClock clock;
    return clock;
}

}  // namespace meterload
