// The simulated ZQ6140 for tests: holds the simulator library loaded for the
// fixture's lifetime (connections that load the same library share its
// configuration and clock), gives each test a private directory for the
// instrument's state and transcript, and reads back what crossed the wire.
#pragma once

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "tests/support/transcript.h"

#include <cstdint>
#include <string>
#include <vector>

namespace meterload::testing {

// The simulator library, and the variant that lacks `function` (one of the
// nine functions MeterLoad binds), found beside it.
std::string SimLibraryPath();
std::string SimVariantPath(const std::string& function);

// One instrument's part of a transcript of several: the events tagged with
// its serial (its sessions' calls, its mode changes, images, unplugs), in
// order. The serial is compared as the configuration writes it.
std::vector<WireEvent> InstrumentEvents(const std::vector<WireEvent>& events, const std::string& serial);
// The bytes of each viWrite to that instrument, in order.
std::vector<std::vector<std::uint8_t>> InstrumentWrites(const std::vector<WireEvent>& events,
                                                        const std::string& serial);

class SimInstrument {
public:
    // Loads the library and configures it with `config` (see sim/README.md).
    explicit SimInstrument(const std::string& config = std::string());
    ~SimInstrument();
    SimInstrument(const SimInstrument&) = delete;
    SimInstrument& operator=(const SimInstrument&) = delete;

    bool Loaded() const { return library_.IsLoaded(); }

    // Replaces the configuration, powers the instrument off and on and clears
    // the transcript. The private state and transcript files are added unless
    // `text` names its own. False when the simulator refuses a line.
    bool Configure(const std::string& text);

    // Timestamps and read timeouts on `clock` until the fixture ends or
    // UseSystemClock() is called; `clock` must outlive that.
    void UseClock(Clock& clock);
    void UseSystemClock();
    void PowerCycle();
    // Puts an instrument that an unplug_after_* setting took off the bus back
    // on it, in update mode.
    void PlugIn();

    std::string TranscriptText() const;
    std::vector<WireEvent> Transcript() const;
    std::vector<WireEvent> Events(const std::string& name) const;
    // The bytes of each viWrite, in order.
    std::vector<std::vector<std::uint8_t>> Writes() const;
    // The same for one of several instruments (see InstrumentEvents).
    std::vector<WireEvent> Transcript(const std::string& serial) const;
    std::vector<std::vector<std::uint8_t>> Writes(const std::string& serial) const;

    const std::string& LibraryPath() const { return path_; }
    const std::string& Directory() const { return directory_; }
    std::string StatePath() const;
    std::string TranscriptPath() const;

private:
    void* Symbol(const char* name) const;

    std::string path_;
    std::string directory_;
    DynamicLibrary library_;
};

}  // namespace meterload::testing
