#include "update/power_cycle_wait.h"

#include "link/instrument_connection.h"

#include <algorithm>

namespace meterload {
namespace {

bool Attached(Clock& clock, const std::string& visaLibrary, bool libraryHeldElsewhere, const std::string& serial)
{
    InstrumentConnection connection(clock, visaLibrary);
    connection.SetLibraryHeldElsewhere(libraryHeldElsewhere);
    const InstrumentSearch search = connection.FindAll();
    return std::any_of(search.instruments.begin(), search.instruments.end(),
                       [&serial](const FoundInstrument& found) { return found.serial == serial; });
}

// Sleeps until `until` in short steps; false when asked to stop meanwhile.
bool Pause(Clock& clock, std::chrono::microseconds until, const PowerCycleWatch& watch)
{
    constexpr std::chrono::milliseconds kStep{100};
    while (clock.Now() < until) {
        if (watch.stop && watch.stop()) {
            return false;
        }
        clock.SleepUntil(std::min<std::chrono::microseconds>(until, clock.Now() + kStep));
    }
    return !(watch.stop && watch.stop());
}

}  // namespace

PowerCycleEnd AwaitPowerCycle(Clock& clock, const std::string& visaLibrary, bool libraryHeldElsewhere,
                              const std::string& serial, std::chrono::milliseconds timeout,
                              const PowerCycleWatch& watch)
{
    const std::chrono::microseconds deadline = clock.Now() + timeout;
    bool gone = false;
    for (;;) {
        const std::chrono::microseconds searched = clock.Now();
        const bool attached = Attached(clock, visaLibrary, libraryHeldElsewhere, serial);
        if (!gone && !attached) {
            gone = true;
            if (watch.left) {
                watch.left();
            }
        } else if (gone && attached) {
            return Pause(clock, clock.Now() + kPowerCycleSettle, watch) ? PowerCycleEnd::CameBack
                                                                        : PowerCycleEnd::Stopped;
        }
        if (clock.Now() >= deadline) {
            return PowerCycleEnd::TimedOut;
        }
        if (!Pause(clock, std::min(deadline, searched + kPowerCyclePoll), watch)) {
            return PowerCycleEnd::Stopped;
        }
    }
}

}  // namespace meterload
