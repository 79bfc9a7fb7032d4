// What the ZQ6140 does with the bytes it receives: its commands, its update
// mode with the image stream and the EndFrame, its replies and the faults the
// configuration injects.
#pragma once

#include "sim/sim_config.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zqsim {

struct InstrumentState {
    std::string serial;
    bool updateMode = false;
    std::string versions;
    std::string queuedReply;       // output not yet read by the host
    std::uint64_t imageBytes = 0;  // of the image since the last EndFrame
    std::uint32_t imageCrc = 0;
    std::uint64_t updateBytes = 0;  // all image data since update mode began
    std::uint32_t imagesDone = 0;
    std::uint32_t lastDataWrite = 0;
    bool shortWriteDone = false;
    bool unplugged = false;           // off the bus until plugged in again or power-cycled
    bool unplugDone = false;          // the configured unplug has happened since power-on
    std::uint64_t updateSinceUs = 0;  // when update mode began, on the sim's clock
    std::size_t scriptPosition = 0;   // the next item of its reply script
    bool endFrameReplyDue = false;    // the next status reply answers an EndFrame
    bool imageAccepted = false;       // an EndFrame was answered "0" since power-on
    bool switchedOff = false;         // by its power switch: off the bus until switched on
};

enum class WriteKind { Command, Identify, Data, EndFrame, Pad };

struct WriteOutcome {
    std::int32_t status = 0;
    std::uint32_t returned = 0;
    WriteKind kind = WriteKind::Command;
};

struct ReadOutcome {
    std::int32_t status = 0;
    std::string bytes;
    bool timedOut = false;
};

const char* WriteKindName(WriteKind kind);

class InstrumentModel {
public:
    // Notices for the transcript and the sessions: a mode change, a finished
    // image, an instrument gone from the bus (at `atUs` on the sim's clock).
    struct Listener {
        std::function<void(const InstrumentState&)> modeChanged;
        std::function<void(const InstrumentState&, std::uint64_t size, std::uint32_t crc)> imageEnded;
        std::function<void(std::size_t instrument, std::uint64_t atUs)> unplugged;
    };

    // `nowUs` gives the sim's clock.
    InstrumentModel(const SimConfig& config, Listener listener, std::function<std::uint64_t()> nowUs);

    // Every instrument as configured, as if it had never been updated.
    void Reset();
    // Every instrument off and on: configured mode, nothing queued, its
    // script from the start, back on the bus with its unplug armed again. An
    // instrument that accepted an image reports the version it received.
    void PowerCycle();
    // One instrument's power switch: off takes it off the bus (its sessions
    // lose their connection); on powers it up as a power cycle does.
    void SwitchOff(std::size_t instrument);
    void SwitchOn(std::size_t instrument);
    // Every unplugged instrument back on the bus, still in update mode (it
    // lost power mid-update) with its image counters cleared.
    void PlugIn();
    // Unplugs every instrument whose timed unplug has come by `nowUs`.
    void CatchUp(std::uint64_t nowUs);
    // When the timed unplug of `instrument` falls, while one is pending.
    std::optional<std::uint64_t> UnplugDue(std::size_t instrument) const;

    WriteOutcome Write(std::size_t instrument, const unsigned char* bytes, std::uint32_t count);
    // Whether Write would take these bytes as image data, changing nothing.
    bool IsImageData(std::size_t instrument, const unsigned char* bytes, std::uint32_t count) const;
    // At most `count` bytes; the rest of a longer reply stays queued.
    ReadOutcome Read(std::size_t instrument, std::uint32_t count);

    std::vector<InstrumentState>& Instruments() { return instruments_; }
    const std::vector<InstrumentState>& Instruments() const { return instruments_; }
    // Set by every change that must outlive the library.
    bool dirty = false;

private:
    // Instrument `i` as it powers up, after `before` (null: never powered).
    InstrumentState PoweredUp(std::size_t i, const InstrumentState* before) const;
    void EnterUpdateMode(InstrumentState& state);
    void Unplug(InstrumentState& state, std::uint64_t atUs);
    // The configuration of the instrument that `state` belongs to.
    const InstrumentConfig& SettingsOf(const InstrumentState& state) const;
    std::string IdentificationReply(const InstrumentState& state) const;
    WriteOutcome WriteInNormalMode(InstrumentState& state, const std::string& text);
    WriteOutcome WriteImageData(InstrumentState& state, const unsigned char* bytes, std::uint32_t count);

    const SimConfig& config_;
    Listener listener_;
    std::function<std::uint64_t()> nowUs_;
    std::vector<InstrumentState> instruments_;
};

}  // namespace zqsim
