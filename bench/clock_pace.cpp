// How closely the real clock keeps the short pauses that set an image
// transfer's pace (5 ms and 10 ms, thousands of them per image), and what it
// costs the processor to finish each pause by yielding. Prints the mean and
// worst lateness past the deadline and the processor time as a share of the
// time paused; on Windows a default timer would make each pause a 15.6 ms tick.
#include "bench/cpu_time.h"
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

void Measure(meterload::Clock& clock, milliseconds pause, int rounds)
{
    long long total = 0;
    long long worst = 0;
    long long early = 0;
    const microseconds cpuBefore = meterload::bench::ProcessCpuTime();
    const microseconds wallBefore = clock.Now();
    for (int i = 0; i < rounds; ++i) {
        const microseconds deadline = clock.Sleep(pause);
        const long long late = (clock.Now() - deadline).count();
        total += late;
        worst = std::max(worst, late);
        early = std::min(early, late);
    }
    const double cpu = static_cast<double>((meterload::bench::ProcessCpuTime() - cpuBefore).count());
    const double wall = static_cast<double>((clock.Now() - wallBefore).count());
    std::printf(
        "Sleep(%lld ms) x %d: mean late %.3f ms, worst late %.3f ms, earliest %.3f ms%s; cpu %.2f %% of the time\n",
        static_cast<long long>(pause.count()), rounds, static_cast<double>(total) / rounds / 1000.0,
        static_cast<double>(worst) / 1000.0, static_cast<double>(early) / 1000.0,
        early < 0 ? " (EARLY: a pause was cut short)" : "", 100.0 * cpu / wall);
}

}  // namespace

int main()
{
    meterload::Clock& clock = meterload::SystemClock();
    // The first pauses teach the clock how late this system wakes it.
    Measure(clock, milliseconds(5), 200);
    Measure(clock, milliseconds(10), 200);
    Measure(clock, milliseconds(5), 200);
    return 0;
}
