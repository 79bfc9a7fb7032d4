// How closely the real clock keeps the short pauses that set an image
// transfer's pace (5 ms and 10 ms, thousands of them per image). Prints the
// mean and worst lateness of each; on Windows a default timer would make them
// a 15.6 ms tick each.
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
    for (int i = 0; i < rounds; ++i) {
        const microseconds start = clock.Now();
        clock.Sleep(pause);
        const long long late = (clock.Now() - start - pause).count();
        total += late;
        worst = std::max(worst, late);
        early = std::min(early, late);
    }
    std::printf("Sleep(%lld ms) x %d: mean late %.3f ms, worst late %.3f ms, earliest %.3f ms%s\n",
                static_cast<long long>(pause.count()), rounds,
                static_cast<double>(total) / rounds / 1000.0, static_cast<double>(worst) / 1000.0,
                static_cast<double>(early) / 1000.0, early < 0 ? " (EARLY: a pause was cut short)" : "");
}

}  // namespace

int main()
{
    meterload::Clock& clock = meterload::SystemClock();
    Measure(clock, milliseconds(5), 200);
    Measure(clock, milliseconds(10), 200);
    return 0;
}
