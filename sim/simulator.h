// The one simulator of the loaded library: configuration, instruments,
// sessions, clock and transcript, and the checked, recorded I/O that the
// exported VISA functions share.
#pragma once

#include "sim/instrument_model.h"
#include "sim/resource_name.h"
#include "sim/session_table.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/transcript.h"
#include "sim/visa_constants.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zqsim {

// The file name of this build of the library, for the load event.
extern const char* const kLibraryFileName;

class Simulator {
public:
    Simulator();   // the library's load
    ~Simulator();  // its unload
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // -1 when `text` is not understood; nothing changes then.
    int Configure(const char* text);
    void PowerCycle();
    // Unplugged instruments back on the bus, in update mode.
    void PlugIn();
    // Unplugs the instruments whose time has come; every call does this first.
    void CatchUp();
    // The model's notice that an instrument left the bus at `atUs`: its
    // sessions lose their connection.
    void Unplugged(std::size_t instrument, std::uint64_t atUs);

    void Record(const EventLine& line);
    void Record(const EventLine& line, std::uint64_t timeUs);
    RecordLevel Recording() const { return config_.record; }
    // Adds serial= to an event of a session opened to an instrument, so that
    // one instrument's traffic can be told from the others'.
    EventLine& AddSerial(EventLine& line, ViObject object);
    // Saves the instrument state when something changed since the last save.
    void SaveIfChanged();

    const SimConfig& Config() const { return config_; }
    SessionTable& Sessions() { return sessions_; }
    SimClock& Clock() { return clock_; }
    const std::string& TranscriptText() const { return transcript_.Text(); }

    // The names the instruments enumerate under, in search order.
    std::vector<std::string> ResourceNames() const;
    // The attached instrument that `name` addresses.
    std::optional<std::size_t> FindInstrument(const ResourceName& name) const;
    const InstrumentState& Instrument(std::size_t index) { return model_.Instruments().at(index); }

    // viWrite and viRead with their checks, faults, timeouts and events;
    // `via` names the formatted-I/O call they serve, if any.
    ViStatus Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via);
    ViStatus Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via);
    // A device clear: the instrument drops the reply the host has not read.
    ViStatus Clear(ViSession vi);

private:
    void RecordConfigErrors(const std::vector<std::string>& errors);
    // After the event of the call that made them, so that the transcript
    // keeps its order.
    void RecordUnplugs();

    SimConfig config_;
    SimClock clock_;  // before the model, which reads it from the start
    InstrumentModel model_;
    SessionTable sessions_;
    Transcript transcript_;
    std::vector<std::pair<std::size_t, std::uint64_t>> unplugs_;  // not yet recorded
};

Simulator& TheSimulator();

// Held by every export for its call: a client's threads take turns in the
// simulator, each call seeing and leaving it whole. A read that waits for its
// timeout lets go of it meanwhile (see Simulator::Read).
class CallGuard {
public:
    // Takes the lock, then brings the timed unplugs up to the present.
    CallGuard();
    // Takes the lock only, for the controls that must not read the clock:
    // the one a test hands over may be gone by then.
    struct LockOnly {};
    explicit CallGuard(LockOnly);
    ~CallGuard();
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
};

}  // namespace zqsim
