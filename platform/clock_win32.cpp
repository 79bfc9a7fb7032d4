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

// ntdll's delay in 100 ns units (negative: relative).
using DelayExecutionFn = LONG(WINAPI*)(BOOLEAN alertable, LARGE_INTEGER* interval);

template <typename Fn>
Fn NtdllFunction(const char* name)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC function = ntdll != nullptr ? GetProcAddress(ntdll, name) : nullptr;
    // GetProcAddress returns a generic function pointer; the cast goes
    // through void* so that the compiler accepts the real signature.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(function));
}

// A waitable timer serves one waiting thread: another thread setting it would
// move the first one's wake-up, and as a synchronization timer it wakes only
// one of two waiters. Every thread that updates an instrument sleeps on this
// one clock, so each has a timer of its own.
HANDLE ThreadTimer()
{
    struct Timer {
        HANDLE handle =
            CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        Timer() = default;
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;
        ~Timer()
        {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
    };
    thread_local Timer timer;
    return timer.handle;
}

class WindowsClock final : public Clock {
public:
    WindowsClock()
    {
        QueryPerformanceFrequency(&frequency_);
        delay_ = NtdllFunction<DelayExecutionFn>("NtDelayExecution");
        // Wine's waitable timers go through its server and wake half a
        // millisecond or more late; its plain delays are as sharp as Linux's.
        const bool wine = NtdllFunction<FARPROC>("wine_get_version") != nullptr;
        // Where this thread gets a high-resolution timer, every thread does.
        useTimer_ = (!wine || delay_ == nullptr) && ThreadTimer() != nullptr;
        if (!useTimer_) {
            periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        }
    }

    ~WindowsClock() override
    {
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
        if (now < wake && SleepFor(wake - now)) {
            margin_.Observe(Now() - wake);
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
    // Sleeps for `duration`, give or take the timer's lateness; false when it
    // could not (the caller then yields the whole pause out).
    bool SleepFor(microseconds duration)
    {
        LARGE_INTEGER relative;
        relative.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10;  // 100 ns units
        if (useTimer_) {
            const HANDLE timer = ThreadTimer();
            return timer != nullptr && SetWaitableTimer(timer, &relative, 0, nullptr, nullptr, FALSE) &&
                   WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
        }
        if (delay_ != nullptr) {
            return delay_(FALSE, &relative) >= 0;
        }
        ::Sleep(static_cast<DWORD>(duration.count() / 1000));
        return true;
    }

    LARGE_INTEGER frequency_{};
    bool useTimer_ = false;
    DelayExecutionFn delay_ = nullptr;
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
