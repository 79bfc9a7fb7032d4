// What the ZQ6140 does with the bytes it receives: its commands, its update
// mode with the image stream and the EndFrame, its replies and the faults the
// configuration injects.
#pragma once

#include "sim/sim_config.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zqsim {

struct InstrumentState {
    std::string serial;
    bool updateMode = false;
    std::string versions;
    std::string queuedReply;        // output not yet read by the host
    std::uint64_t imageBytes = 0;   // of the image since the last EndFrame
    std::uint32_t imageCrc = 0;
    std::uint64_t updateBytes = 0;  // all image data since update mode began
    std::uint32_t imagesDone = 0;
    std::uint32_t lastDataWrite = 0;
    bool shortWriteDone = false;
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
    // Notices for the transcript: a mode change, a finished image.
    struct Listener {
        std::function<void(const InstrumentState&)> modeChanged;
        std::function<void(const InstrumentState&, std::uint64_t size, std::uint32_t crc)> imageEnded;
    };

    InstrumentModel(const SimConfig& config, Listener listener);

    // Every instrument off and on: configured mode, nothing queued, script
    // from its start.
    void PowerCycle();

    WriteOutcome Write(std::size_t instrument, const unsigned char* bytes, std::uint32_t count);
    // At most `count` bytes; the rest of a longer reply stays queued.
    ReadOutcome Read(std::size_t instrument, std::uint32_t count);

    std::vector<InstrumentState>& Instruments() { return instruments_; }
    std::size_t& ScriptPosition() { return scriptPosition_; }
    // Set by every change that must outlive the library.
    bool dirty = false;

private:
    void EnterUpdateMode(InstrumentState& state);
    std::string IdentificationReply(const InstrumentState& state) const;
    WriteOutcome WriteInNormalMode(InstrumentState& state, const std::string& text);
    WriteOutcome WriteImageData(InstrumentState& state, const unsigned char* bytes, std::uint32_t count);

    const SimConfig& config_;
    Listener listener_;
    std::vector<InstrumentState> instruments_;
    std::size_t scriptPosition_ = 0;
};

}  // namespace zqsim
