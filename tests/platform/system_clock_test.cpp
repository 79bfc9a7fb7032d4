// The real clock never ends a pause before its deadline, whatever the
// system's timer does; how close it comes is for the benchmarks to show.
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace meterload {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

TEST(SystemClockTest, NeverWakesBeforeTheDeadline)
{
    Clock& clock = SystemClock();
    // Pauses shorter and longer than the margin it sleeps short by, and a
    // deadline already passed.
    const microseconds pauses[] = {0us, 50us, 200us, 700us, 1500us, 5ms, 10ms, -1ms};
    for (int round = 0; round < 5; ++round) {
        for (const microseconds pause : pauses) {
            const microseconds deadline = clock.Now() + pause;
            clock.SleepUntil(deadline);
            EXPECT_GE(clock.Now(), deadline) << "a pause of " << pause.count() << " us";
        }
    }
}

TEST(SystemClockTest, SleepGivesTheDeadlineItSleptTo)
{
    Clock& clock = SystemClock();
    const microseconds before = clock.Now();
    const microseconds deadline = clock.Sleep(std::chrono::milliseconds(3));
    const microseconds after = clock.Now();
    EXPECT_GE(deadline, before + 3ms);
    EXPECT_LE(deadline, after);
}

}  // namespace
}  // namespace meterload
