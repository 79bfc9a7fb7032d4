// The simulated ZQ6140 as the benchmarks use it: loaded once and held for the
// whole run, so that the connections that load and unload it share its
// configuration, and configured through its control exports.
#pragma once

#include "platform/clock.h"
#include "platform/dynamic_library.h"

#include <string>

namespace meterload::bench {

class BenchSim {
public:
    // Loads the simulator built beside the benchmarks; throws when it cannot.
    BenchSim();

    const std::string& LibraryPath() const { return path_; }

    // Replaces the configuration (key=value lines) and power-cycles.
    void Configure(const std::string& text);
    void PowerCycle();
    // Timestamps and timeout waits from `clock` instead of real time.
    void UseClock(Clock& clock);

private:
    std::string path_;
    DynamicLibrary library_;
};

}  // namespace meterload::bench
