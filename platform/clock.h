// The one source of time for the whole program: every pause goes through a Clock,
// so that tests can run the procedures on virtual time.
#pragma once

#include <chrono>

namespace meterload {

class Clock {
public:
    virtual ~Clock() = default;

    // Blocks the calling thread until Now() has reached `deadline`; returns at
    // once when it already has. Never returns before the deadline.
    virtual void SleepUntil(std::chrono::microseconds deadline) = 0;

    // Monotonic time since an arbitrary origin.
    virtual std::chrono::microseconds Now() const = 0;

    // Blocks for at least `duration` from now and returns the deadline it
    // slept to. Pauses in a run of paced writes count from such deadlines,
    // not from the wake-ups: a late wake-up then shortens the pause that
    // follows instead of adding to the whole transfer.
    std::chrono::microseconds Sleep(std::chrono::milliseconds duration)
    {
        const std::chrono::microseconds deadline = Now() + duration;
        SleepUntil(deadline);
        return deadline;
    }
};

// The real clock: sleeps, then finishes each pause by yielding the processor
// until the deadline has passed, so that it wakes within microseconds of it.
Clock& SystemClock();

}  // namespace meterload
