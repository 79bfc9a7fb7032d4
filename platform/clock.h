// The one source of time for the whole program: every pause goes through a Clock,
// so that tests can run the procedures on virtual time.
#pragma once

#include <chrono>

namespace meterload {

class Clock {
public:
    virtual ~Clock() = default;

    // Blocks the calling thread for at least `duration`.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;

    // Monotonic time since an arbitrary origin.
    virtual std::chrono::microseconds Now() const = 0;
};

// The real clock. On Windows its sleeps are accurate to about a millisecond.
Clock& SystemClock();

}  // namespace meterload
