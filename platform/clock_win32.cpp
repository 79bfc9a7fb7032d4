// The default Windows timer rounds Sleep(5) and Sleep(10) up to a 15.6 ms tick,
// which would double the time of an image transfer. A high-resolution waitable
// timer keeps the pace; where it is missing, timeBeginPeriod(1) is the fall-back.
#include "platform/clock.h"

#include <windows.h>
#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace meterload {
namespace {

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

    void Sleep(std::chrono::milliseconds duration) override
    {
        if (duration.count() <= 0) {
            return;
        }
        const auto deadline = Now() + duration;
        if (timer_ != nullptr) {
            LARGE_INTEGER due;
            due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10000;  // relative, 100 ns units
            if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
                WaitForSingleObject(timer_, INFINITE);
            }
        }
        // A timer that fired early, or none at all: finish with plain sleeps.
        while (Now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now());
            ::Sleep(left.count() > 0 ? static_cast<DWORD>(left.count()) : 0);
        }
    }

    std::chrono::microseconds Now() const override
    {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        const long long seconds = counter.QuadPart / frequency_.QuadPart;
        const long long rest = counter.QuadPart % frequency_.QuadPart;
        return std::chrono::microseconds(seconds * 1000000 + rest * 1000000 / frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_{};
    HANDLE timer_ = nullptr;
    bool periodRaised_ = false;
};

}  // namespace

Clock& SystemClock()
{
    static WindowsClock clock;
    return clock;
}

}  // namespace meterload
