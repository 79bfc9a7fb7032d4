#include "sim/simulator.h"

#include "sim/sim_state.h"
#include "sim/write_gate.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

namespace zqsim {
namespace {

// The switch's file holds "off" (blanks and a line end around it allowed).
bool PowerSwitchIsOff(const std::string& folder, const std::string& serial)
{
    std::ifstream file(folder + "/" + serial, std::ios::binary);
    std::string word;
    return file && (file >> word) && word == "off";
}

InstrumentModel::Listener MakeListener()
{
    InstrumentModel::Listener listener;
    listener.modeChanged = [](const InstrumentState& state) {
        TheSimulator().Record(
            EventLine("mode").Add("serial", state.serial).Add("mode", state.updateMode ? "update" : "normal"));
    };
    listener.imageEnded = [](const InstrumentState& state, std::uint64_t size, std::uint32_t crc) {
        char crcText[12];
        std::snprintf(crcText, sizeof crcText, "%08" PRIX32, crc);
        TheSimulator().Record(EventLine("image")
                                  .Add("serial", state.serial)
                                  .Add("index", state.imagesDone)
                                  .Add("size", size)
                                  .Add("crc32", crcText));
    };
    listener.unplugged = [](std::size_t instrument, std::uint64_t atUs) { TheSimulator().Unplugged(instrument, atUs); };
    return listener;
}

}  // namespace

Simulator theSimulator;

namespace {

std::mutex callMutex;

// Lets go of the call lock for a wait on the sim's clock, so that the other
// sessions carry on meanwhile, and takes it back however the wait ends.
class UnlockedWait {
public:
    explicit UnlockedWait(const ClockWait& wait) : wait_(wait) { callMutex.unlock(); }
    ~UnlockedWait() { callMutex.lock(); }
    UnlockedWait(const UnlockedWait&) = delete;
    UnlockedWait& operator=(const UnlockedWait&) = delete;
    void Run(std::uint32_t milliseconds) const { wait_.Run(milliseconds); }

private:
    ClockWait wait_;
};

// Lets go of the call lock for a short pause in real time, whatever clock the
// sim keeps: a held write polls its gate so.
void PauseUnlocked()
{
    callMutex.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    callMutex.lock();
}

}  // namespace

Simulator& TheSimulator()
{
    return theSimulator;
}

}  // namespace zqsim

namespace visa_surface {

VisaBackend& TheBackend()
{
    return zqsim::theSimulator;
}

// Brings the timed unplugs up to the present before the call.
CallGuard::CallGuard()
{
    zqsim::callMutex.lock();
    zqsim::TheSimulator().CatchUp();
}

// For the controls that must not read the clock: the one a test hands over
// may be gone by then.
CallGuard::CallGuard(LockOnly)
{
    zqsim::callMutex.lock();
}

CallGuard::~CallGuard()
{
    zqsim::callMutex.unlock();
}

}  // namespace visa_surface

namespace zqsim {

Simulator::Simulator() : model_(config_, MakeListener(), [this] { return clock_.NowUs(); })
{
    std::vector<std::string> errors;
    SimConfig config;
    LoadConfig(nullptr, config, errors);
    config_ = config;
    transcript_.SetFile(config_.transcriptPath, false);
    Record(EventLine("load").Add("library", kLibraryFileName));
    RecordConfigErrors(errors);
    model_.Reset();
    if (!LoadState(config_, model_) || model_.dirty) {
        SaveState(config_, model_, false);
    }
}

Simulator::~Simulator()
{
    SaveState(config_, model_, true);
    Record(EventLine("unload"));
}

void Simulator::RecordConfigErrors(const std::vector<std::string>& errors)
{
    for (const std::string& line : errors) {
        Record(EventLine("config_error").Add("line", line));
    }
}

int Simulator::Configure(const char* text)
{
    std::vector<std::string> errors;
    SimConfig config;
    const std::string source = text != nullptr ? text : "";
    if (!LoadConfig(&source, config, errors)) {
        Record(EventLine("configure").Add("status", "-1").Add("line", errors.empty() ? "" : errors.front()));
        return -1;
    }
    config_ = config;
    sessions_.Clear();
    transcript_.ClearMemory();
    transcript_.SetFile(config_.transcriptPath, true);
    Record(EventLine("configure").Add("status", "0"));
    RecordConfigErrors(errors);
    model_.Reset();
    SaveState(config_, model_, false);
    return 0;
}

void Simulator::PowerCycle()
{
    Record(EventLine("power_cycle"));
    model_.PowerCycle();
    SaveState(config_, model_, false);
}

void Simulator::PlugIn()
{
    for (const InstrumentState& state : model_.Instruments()) {
        if (state.unplugged && !state.switchedOff) {
            Record(EventLine("plug_in").Add("serial", state.serial));
        }
    }
    model_.PlugIn();
    SaveState(config_, model_, false);
}

void Simulator::CatchUp()
{
    ReadPowerSwitches();
    model_.CatchUp(clock_.NowUs());
    if (!unplugs_.empty()) {
        RecordUnplugs();
        SaveState(config_, model_, false);
    }
}

void Simulator::ReadPowerSwitches()
{
    if (config_.powerSwitchesPath.empty()) {
        return;
    }
    std::vector<InstrumentState>& instruments = model_.Instruments();
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const bool off = PowerSwitchIsOff(config_.powerSwitchesPath, instruments[i].serial);
        if (off == instruments[i].switchedOff) {
            continue;
        }
        if (off) {
            model_.SwitchOff(i);
            sessions_.LoseInstrument(i);
            Record(EventLine("power_off").Add("serial", instruments[i].serial));
        } else {
            model_.SwitchOn(i);
            Record(EventLine("power_on")
                       .Add("serial", instruments[i].serial)
                       .Add("mode", instruments[i].updateMode ? "update" : "normal")
                       .Add("versions", instruments[i].versions));
        }
        SaveState(config_, model_, false);
    }
}

void Simulator::Unplugged(std::size_t instrument, std::uint64_t atUs)
{
    sessions_.LoseInstrument(instrument);
    unplugs_.emplace_back(instrument, atUs);
}

void Simulator::RecordUnplugs()
{
    for (const auto& [instrument, atUs] : unplugs_) {
        Record(EventLine("unplug").Add("serial", model_.Instruments().at(instrument).serial), atUs);
    }
    unplugs_.clear();
}

void Simulator::Record(const EventLine& line)
{
    transcript_.Record(clock_.NowUs(), line);
}

void Simulator::Record(const EventLine& line, std::uint64_t timeUs)
{
    transcript_.Record(timeUs, line);
}

std::string Simulator::SerialOf(const Session& session) const
{
    return model_.Instruments().at(session.instrument).serial;
}

const char* Simulator::MakerName() const
{
    return "MeterLoad simulated instrument";
}

ViStatus Simulator::ResourceManagerStatus()
{
    return config_.noResourceManager ? VI_ERROR_SYSTEM_ERROR : VI_SUCCESS;
}

void Simulator::SaveIfChanged()
{
    if (model_.dirty) {
        SaveState(config_, model_, false);
    }
}

std::vector<std::string> Simulator::ResourceNames()
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < config_.serials.size(); ++i) {
        if (model_.Instruments().at(i).unplugged) {
            continue;
        }
        const std::string& serial = config_.serials[i];
        if (config_.enumerate != Enumeration::Decimal) {
            names.push_back(FormatResourceName(serial, IdNotation::Hex));
        }
        if (config_.enumerate != Enumeration::Hex) {
            names.push_back(FormatResourceName(serial, IdNotation::Decimal));
        }
    }
    return names;
}

ViStatus Simulator::OpenInstrument(const ResourceName& name, Session& session)
{
    if (name.board != 0 || name.manufacturer != kVendorId || name.model != kProductId ||
        (name.usbInterface != -1 && name.usbInterface != 0)) {
        return VI_ERROR_RSRC_NFOUND;
    }
    for (std::size_t i = 0; i < config_.serials.size(); ++i) {
        if (EqualsIgnoringCase(config_.serials[i], name.serial) && !model_.Instruments().at(i).unplugged) {
            session.instrument = i;
            session.name = FormatResourceName(config_.serials[i], IdNotation::Hex);
            return VI_SUCCESS;
        }
    }
    return VI_ERROR_RSRC_NFOUND;
}

void Simulator::CloseInstrument(const Session& /*session*/)
{
    // Nothing is held for a simulated instrument.
}

void Simulator::AwaitWriteGate(ViSession vi, const ViByte* buffer, ViUInt32 count)
{
    bool held = false;
    // Looked up afresh after every pause: meanwhile another thread may have
    // closed the session or configured the sim anew.
    while (!config_.writeGatesPath.empty() && buffer != nullptr) {
        const Session* session = sessions_.Find(vi, Session::Kind::Instrument);
        if (session == nullptr || session->lost || !model_.IsImageData(session->instrument, buffer, count)) {
            return;
        }
        const InstrumentState& state = model_.Instruments().at(session->instrument);
        if (!WriteGateHolds(config_.writeGatesPath, state.serial, state.updateBytes + count)) {
            return;
        }
        if (!held) {
            held = true;
            Record(EventLine("held")
                       .Add("vi", vi)
                       .Add("serial", state.serial)
                       .Add("bytes", state.updateBytes)
                       .Add("count", count));
        }
        PauseUnlocked();
        CatchUp();
    }
}

ViStatus Simulator::Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via)
{
    if (returned != nullptr) {
        *returned = 0;
    }
    AwaitWriteGate(vi, buffer, count);
    EventLine line = IoEvent("viWrite", vi, count, via);
    Session* session = sessions_.Find(vi, Session::Kind::Instrument);
    ViStatus status = VI_SUCCESS;
    WriteOutcome outcome;
    bool wasLost = false;
    if (session == nullptr) {
        status = VI_ERROR_INV_OBJECT;
    } else if (buffer == nullptr && count > 0) {
        status = VI_ERROR_USER_BUF;
    } else if (session->lost) {
        wasLost = true;
        status = VI_ERROR_CONN_LOST;
    } else {
        outcome = model_.Write(session->instrument, buffer, count);
        status = outcome.status;
        if (returned != nullptr) {
            *returned = outcome.returned;
        }
    }
    if (config_.record != RecordLevel::Off) {
        line.AddStatus(status).Add("returned", outcome.returned);
        if (session != nullptr && buffer != nullptr) {
            line.Add("kind", wasLost ? "lost" : WriteKindName(outcome.kind));
            if (config_.record == RecordLevel::Full) {
                line.AddHex("data", buffer, count);
            }
        }
        Record(line);
    }
    RecordUnplugs();
    // Saving after every piece of a long image would cost more than the
    // transfer itself; the next other call or the unload saves it.
    if (outcome.kind != WriteKind::Data || status == VI_ERROR_CONN_LOST) {
        SaveIfChanged();
    }
    return status;
}

ViStatus Simulator::Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via)
{
    if (returned != nullptr) {
        *returned = 0;
    }
    // Stamped when the read began, so that a timeout shows as the gap to
    // the session's next event.
    const std::uint64_t started = clock_.NowUs();
    EventLine line = IoEvent("viRead", vi, count, via);
    Session* session = sessions_.Find(vi, Session::Kind::Instrument);
    ViStatus status = VI_SUCCESS;
    ReadOutcome outcome;
    std::uint32_t waited = 0;
    std::optional<std::uint64_t> lostDuringWait;
    if (session == nullptr) {
        status = VI_ERROR_INV_OBJECT;
    } else if (buffer == nullptr) {
        status = VI_ERROR_USER_BUF;
    } else if (session->lost) {
        status = VI_ERROR_CONN_LOST;
    } else {
        outcome = model_.Read(session->instrument, count);
        status = outcome.status;
        const auto unplug = model_.UnplugDue(session->instrument);
        const bool infinite = session->timeoutMs == VI_TMO_INFINITE;
        if (outcome.timedOut && unplug && (infinite || *unplug < started + std::uint64_t{session->timeoutMs} * 1000)) {
            // Unplugged while the host waits: the read fails then, not at
            // the end of its timeout.
            waited = static_cast<std::uint32_t>((*unplug > started ? *unplug - started + 999 : 0) / 1000);
            lostDuringWait = unplug;
            outcome.timedOut = false;
            status = VI_ERROR_CONN_LOST;
            line.Add("lost_after_ms", waited);
        } else if (outcome.timedOut && !infinite) {
            // Nothing can arrive later in the simulation; waiting out the
            // timeout keeps the host's timing as it would be.
            waited = session->timeoutMs;
        }
        std::copy(outcome.bytes.begin(), outcome.bytes.end(), buffer);
        if (returned != nullptr) {
            *returned = static_cast<ViUInt32>(outcome.bytes.size());
        }
    }
    // Everything the read does is known before its wait, so its event goes
    // in now, in its place among the other sessions' events.
    if (config_.record != RecordLevel::Off) {
        line.AddStatus(status).Add("returned", outcome.bytes.size());
        if (outcome.timedOut) {
            line.Add("timeout_ms", session != nullptr && session->timeoutMs == VI_TMO_INFINITE
                                       ? std::string("infinite")
                                       : std::to_string(waited));
        }
        if (config_.record == RecordLevel::Full && !outcome.bytes.empty()) {
            line.AddHex("data", reinterpret_cast<const unsigned char*>(outcome.bytes.data()), outcome.bytes.size());
        }
        Record(line, started);
    }
    SaveIfChanged();
    if (waited > 0) {
        // The session may be closed meanwhile: nothing of it is used after.
        const UnlockedWait wait(clock_.Wait());
        wait.Run(waited);
    }
    if (lostDuringWait) {
        // Unless another call has seen the unplug already.
        model_.CatchUp(*lostDuringWait);
        RecordUnplugs();
        SaveIfChanged();
    }
    return status;
}

ViStatus Simulator::Clear(ViSession vi)
{
    Session* session = sessions_.Find(vi, Session::Kind::Instrument);
    const ViStatus status = session == nullptr ? VI_ERROR_INV_OBJECT : session->lost ? VI_ERROR_CONN_LOST : VI_SUCCESS;
    if (status == VI_SUCCESS) {
        model_.Instruments().at(session->instrument).queuedReply.clear();
        model_.dirty = true;
    }
    EventLine line("viClear");
    line.Add("vi", vi);
    Record(AddSerial(line, vi).AddStatus(status));
    SaveIfChanged();
    return status;
}

}  // namespace zqsim
