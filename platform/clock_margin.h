// How long before a deadline the real clocks stop sleeping and finish the
// pause by yielding. Portable: both clocks share it.
#pragma once

#include <atomic>
#include <chrono>

namespace meterload {

// The system wakes a sleeper late by an amount that depends on its timer:
// tens of microseconds on Linux, a few hundred under Wine, up to a
// millisecond on a Windows timer at 1 ms resolution. A fixed margin would
// either miss deadlines on a coarse timer or keep a core busy yielding on a
// sharp one, so the margin follows the lateness the clock has seen: it tracks
// the lateness that four wake-ups in five stay within.
class WakeMargin {
public:
    static constexpr std::chrono::microseconds kInitial{300};
    static constexpr std::chrono::microseconds kLeast{20};
    // Beyond this a wake-up was held up by other work, not by the timer, and
    // yielding longer would only burn the processor.
    static constexpr std::chrono::microseconds kMost{2000};

    std::chrono::microseconds Get() const { return std::chrono::microseconds(margin_.load(std::memory_order_relaxed)); }

    // Reports how late the system woke from a sleep, measured against the
    // time the sleep was asked to end (the deadline less the margin).
    void Observe(std::chrono::microseconds lateness);

private:
    // Steps up four times as large as the steps down settle where one
    // wake-up in five is later than the margin.
    static constexpr std::chrono::microseconds kStepUp{16};
    static constexpr std::chrono::microseconds kStepDown{4};

    std::atomic<std::chrono::microseconds::rep> margin_{kInitial.count()};
};

}  // namespace meterload
