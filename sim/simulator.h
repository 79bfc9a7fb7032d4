// The one simulator of the loaded library: configuration, instruments,
// sessions, clock and transcript, and the checked, recorded I/O that the
// exported VISA functions share.
#pragma once

#include "sim/instrument_model.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "visa_surface/visa_backend.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zqsim {

using namespace visa_surface;  // NOLINT: the simulator is one backend of the VISA surface

class Simulator : public VisaBackend {
public:
    Simulator();            // the library's load
    ~Simulator() override;  // its unload
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

    void Record(const EventLine& line) override;
    void Record(const EventLine& line, std::uint64_t timeUs);
    RecordLevel Recording() const { return config_.record; }
    // Saves the instrument state when something changed since the last save.
    void SaveIfChanged() override;

    const SimConfig& Config() const { return config_; }
    SimClock& Clock() { return clock_; }
    const std::string& TranscriptText() const { return transcript_.Text(); }

    ViStatus ResourceManagerStatus() override;
    std::vector<std::string> ResourceNames() override;
    ViStatus OpenInstrument(const ResourceName& name, Session& session) override;
    void CloseInstrument(const Session& session) override;
    std::string SerialOf(const Session& session) const override;
    const char* MakerName() const override;

    // With the configured faults, timeouts and events.
    ViStatus Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) override;
    ViStatus Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) override;
    ViStatus Clear(ViSession vi) override;

private:
    // Holds an image data write while its instrument's write gate is shut,
    // without the call lock, so that the other sessions carry on meanwhile.
    void AwaitWriteGate(ViSession vi, const ViByte* buffer, ViUInt32 count);
    void RecordConfigErrors(const std::vector<std::string>& errors);
    // Switches off or on each instrument whose power switch changed.
    void ReadPowerSwitches();
    // After the event of the call that made them, so that the transcript
    // keeps its order.
    void RecordUnplugs();

    SimConfig config_;
    SimClock clock_;  // before the model, which reads it from the start
    InstrumentModel model_;
    Transcript transcript_;
    std::vector<std::pair<std::size_t, std::uint64_t>> unplugs_;  // not yet recorded
};

Simulator& TheSimulator();

}  // namespace zqsim
