// Waiting for an instrument to be switched off and on: it leaves the VISA
// search and comes back under the same serial number.
#pragma once

#include "platform/clock.h"

#include <chrono>
#include <functional>
#include <string>

namespace meterload {

enum class PowerCycleEnd { CameBack, TimedOut, Stopped };

struct PowerCycleWatch {
    std::function<bool()> stop;  // asked between searches; true ends the wait
    std::function<void()> left;  // once the instrument has left the search
};

// How often the search runs while it waits.
inline constexpr std::chrono::milliseconds kPowerCyclePoll{500};
// After it is back on the bus, before it is asked anything: an instrument
// enumerates before its firmware has started answering.
inline constexpr std::chrono::milliseconds kPowerCycleSettle{1000};

// Searches every kPowerCyclePoll until `serial` is gone, then until it is
// back (and kPowerCycleSettle more), for at most `timeout` in all. An instrument that never leaves has not
// been switched off: it still runs what it ran before, so it is not asked.
PowerCycleEnd AwaitPowerCycle(Clock& clock, const std::string& visaLibrary, bool libraryHeldElsewhere,
                              const std::string& serial, std::chrono::milliseconds timeout,
                              const PowerCycleWatch& watch);

}  // namespace meterload
