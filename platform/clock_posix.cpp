#include "platform/clock.h"

#include <thread>

namespace meterload {
namespace {

class PosixClock final : public Clock {
public:
    void Sleep(std::chrono::milliseconds duration) override
    {
        // sleep_for already resumes after signals until the full time has passed.
        std::this_thread::sleep_for(duration);
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
