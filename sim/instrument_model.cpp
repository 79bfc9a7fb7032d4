#include "sim/instrument_model.h"

#include "sim/crc32.h"
#include "visa_surface/visa_constants.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zqsim {

using namespace visa_surface;  // NOLINT: VISA codes and names read best unqualified

namespace {

const unsigned char kEndFrame[10] = {0xAB, 0, 0, 0, 0, 0, 0, 0x01, 0xFF, 0xFF};
const char kPadCommand[] = "@?\n";
const char kIdentify[] = "*idn?\n";

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string TrimLine(const std::string& line)
{
    const std::size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return std::string();
    }
    const std::size_t end = line.find_last_not_of(" \t\r");
    return line.substr(begin, end - begin + 1);
}

// The pad follows only a last data write whose size plus the transport's
// 12-byte header fills whole 64-byte packets.
bool NeedsPad(std::uint32_t lastWrite)
{
    return lastWrite == 52 || lastWrite == 116 || lastWrite == 180;
}

// The status character of a reply: its first byte, or the second after 0xAB.
char ReplyStatus(const std::string& reply)
{
    if (reply.size() >= 2 && static_cast<unsigned char>(reply[0]) == 0xAB) {
        return reply[1];
    }
    return reply.empty() ? '\0' : reply[0];
}

// What a write means to an instrument in update mode.
WriteKind KindInUpdateMode(const InstrumentState& state, const unsigned char* bytes, std::uint32_t count)
{
    const auto is = [&](const void* what, std::size_t size) {
        return count == size && std::memcmp(bytes, what, size) == 0;
    };
    if (is(kIdentify, sizeof kIdentify - 1)) {
        return WriteKind::Identify;
    }
    if (is(kEndFrame, sizeof kEndFrame)) {
        return WriteKind::EndFrame;
    }
    if (is(kPadCommand, sizeof kPadCommand - 1) && NeedsPad(state.lastDataWrite)) {
        return WriteKind::Pad;
    }
    return WriteKind::Data;
}

}  // namespace

const char* WriteKindName(WriteKind kind)
{
    switch (kind) {
    case WriteKind::Command: return "command";
    case WriteKind::Identify: return "idn";
    case WriteKind::Data: return "data";
    case WriteKind::EndFrame: return "endframe";
    case WriteKind::Pad: return "pad";
    }
    return "?";
}

InstrumentModel::InstrumentModel(const SimConfig& config, Listener listener, std::function<std::uint64_t()> nowUs)
    : config_(config), listener_(std::move(listener)), nowUs_(std::move(nowUs))
{
    Reset();
}

void InstrumentModel::Reset()
{
    instruments_.clear();
    PowerCycle();
}

InstrumentState InstrumentModel::PoweredUp(std::size_t i, const InstrumentState* before) const
{
    const InstrumentConfig& settings = config_.instruments.at(i);
    InstrumentState state;
    state.serial = config_.serials[i];
    state.versions = settings.versions;
    state.updateMode = settings.startInUpdateMode;
    // The firmware stays what it was; an accepted image replaces it.
    if (before != nullptr && before->serial == state.serial) {
        state.versions = before->versions;
        if (before->imageAccepted && settings.receivedVersions) {
            state.versions = *settings.receivedVersions;
        }
        if (before->imageAccepted && settings.receivedInUpdateMode) {
            state.updateMode = *settings.receivedInUpdateMode;
        }
    }
    state.updateSinceUs = nowUs_();
    return state;
}

void InstrumentModel::PowerCycle()
{
    std::vector<InstrumentState> before;
    before.swap(instruments_);
    for (std::size_t i = 0; i < config_.serials.size(); ++i) {
        instruments_.push_back(PoweredUp(i, i < before.size() ? &before[i] : nullptr));
    }
    dirty = true;
}

void InstrumentModel::SwitchOff(std::size_t instrument)
{
    InstrumentState& state = instruments_.at(instrument);
    state.switchedOff = true;
    state.unplugged = true;
    // What it had not sent yet is lost with the power.
    state.queuedReply.clear();
    dirty = true;
}

void InstrumentModel::SwitchOn(std::size_t instrument)
{
    const InstrumentState before = instruments_.at(instrument);
    instruments_.at(instrument) = PoweredUp(instrument, &before);
    dirty = true;
}

void InstrumentModel::PlugIn()
{
    for (InstrumentState& state : instruments_) {
        if (state.unplugged && !state.switchedOff) {
            state.unplugged = false;
            EnterUpdateMode(state);
        }
    }
}

std::optional<std::uint64_t> InstrumentModel::UnplugDue(std::size_t instrument) const
{
    const InstrumentState& state = instruments_.at(instrument);
    const std::optional<std::uint64_t>& afterMs = SettingsOf(state).unplugAfterMs;
    if (!afterMs || !state.updateMode || state.unplugged || state.unplugDone ||
        *afterMs > (UINT64_MAX - state.updateSinceUs) / 1000) {
        return std::nullopt;
    }
    return state.updateSinceUs + *afterMs * 1000;
}

void InstrumentModel::CatchUp(std::uint64_t nowUs)
{
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        if (const auto due = UnplugDue(i); due && *due <= nowUs) {
            Unplug(instruments_[i], *due);
        }
    }
}

void InstrumentModel::Unplug(InstrumentState& state, std::uint64_t atUs)
{
    state.unplugged = true;
    state.unplugDone = true;
    // What it had not sent yet is lost with it.
    state.queuedReply.clear();
    dirty = true;
    if (listener_.unplugged) {
        listener_.unplugged(static_cast<std::size_t>(&state - instruments_.data()), atUs);
    }
}

const InstrumentConfig& InstrumentModel::SettingsOf(const InstrumentState& state) const
{
    return config_.instruments.at(static_cast<std::size_t>(&state - instruments_.data()));
}

std::string InstrumentModel::IdentificationReply(const InstrumentState& state) const
{
    if (state.updateMode) {
        return "KORVALEN,ZQ6140," + state.serial + ",WDL\n";
    }
    if (const auto& idn = SettingsOf(state).idn) {
        return *idn;
    }
    return "KORVALEN,ZQ6140," + state.serial + "," + state.versions + "\n";
}

void InstrumentModel::EnterUpdateMode(InstrumentState& state)
{
    const bool changed = !state.updateMode;
    state.updateMode = true;
    state.queuedReply.clear();
    state.imageBytes = 0;
    state.imageCrc = 0;
    state.updateBytes = 0;
    state.imagesDone = 0;
    state.lastDataWrite = 0;
    state.shortWriteDone = false;
    state.updateSinceUs = nowUs_();
    dirty = true;
    if (changed && listener_.modeChanged) {
        listener_.modeChanged(state);
    }
}

WriteOutcome InstrumentModel::Write(std::size_t instrument, const unsigned char* bytes, std::uint32_t count)
{
    InstrumentState& state = instruments_.at(instrument);
    const std::string text(reinterpret_cast<const char*>(bytes), count);
    if (state.unplugged) {
        WriteOutcome lost;
        lost.status = VI_ERROR_CONN_LOST;
        return lost;
    }
    if (!state.updateMode) {
        return WriteInNormalMode(state, text);
    }
    WriteOutcome outcome;
    outcome.kind = KindInUpdateMode(state, bytes, count);
    if (outcome.kind == WriteKind::Identify) {
        state.queuedReply = IdentificationReply(state);
        dirty = true;
        outcome.returned = count;
        return outcome;
    }
    if (outcome.kind == WriteKind::EndFrame) {
        // The frame that fails never arrives, so image N stays open and a
        // repeated frame fails again.
        const InstrumentConfig& settings = SettingsOf(state);
        if (settings.failEndFrame || (settings.failEndFrameAt && state.imagesDone + 1 == *settings.failEndFrameAt)) {
            outcome.status = VI_ERROR_IO;
            return outcome;
        }
        ++state.imagesDone;
        if (listener_.imageEnded) {
            listener_.imageEnded(state, state.imageBytes, state.imageCrc);
        }
        state.imageBytes = 0;
        state.imageCrc = 0;
        state.lastDataWrite = 0;
        state.endFrameReplyDue = true;
        dirty = true;
        outcome.returned = count;
        if (settings.unplugAfterImages && !state.unplugDone && state.imagesDone >= *settings.unplugAfterImages) {
            Unplug(state, nowUs_());
        }
        return outcome;
    }
    if (outcome.kind == WriteKind::Pad) {
        state.lastDataWrite = 0;
        outcome.returned = count;
        return outcome;
    }
    return WriteImageData(state, bytes, count);
}

bool InstrumentModel::IsImageData(std::size_t instrument, const unsigned char* bytes, std::uint32_t count) const
{
    const InstrumentState& state = instruments_.at(instrument);
    return !state.unplugged && state.updateMode && KindInUpdateMode(state, bytes, count) == WriteKind::Data;
}

WriteOutcome InstrumentModel::WriteInNormalMode(InstrumentState& state, const std::string& text)
{
    WriteOutcome outcome;
    outcome.returned = static_cast<std::uint32_t>(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string command = Lower(TrimLine(text.substr(start, end - start)));
        start = end + 1;
        if (command == "*idn?") {
            state.queuedReply = IdentificationReply(state);
            outcome.kind = WriteKind::Identify;
            dirty = true;
        } else if (command == "system:update") {
            EnterUpdateMode(state);
            return outcome;  // what follows in the same write is not a command any more
        }
        // "L0" and anything else are taken without an answer.
    }
    return outcome;
}

WriteOutcome InstrumentModel::WriteImageData(InstrumentState& state, const unsigned char* bytes, std::uint32_t count)
{
    WriteOutcome outcome;
    outcome.kind = WriteKind::Data;
    const std::uint64_t first = state.updateBytes;
    const std::uint64_t end = first + count;
    std::uint32_t accepted = count;
    const InstrumentConfig& settings = SettingsOf(state);
    const std::optional<std::uint64_t>& unplugAt = settings.unplugAfterBytes;
    if (unplugAt && !state.unplugDone && end > *unplugAt) {
        // Bytes up to the unplug arrive; the rest of the write goes nowhere.
        accepted = first < *unplugAt ? static_cast<std::uint32_t>(*unplugAt - first) : 0;
        state.imageCrc = Crc32Update(state.imageCrc, bytes, accepted);
        state.imageBytes += accepted;
        state.updateBytes += accepted;
        Unplug(state, nowUs_());
        outcome.status = VI_ERROR_CONN_LOST;
        outcome.returned = accepted;
        return outcome;
    }
    if (settings.failWriteAfter && first <= *settings.failWriteAfter && *settings.failWriteAfter < end) {
        outcome.status = VI_ERROR_IO;
        state.lastDataWrite = 0;
        return outcome;
    }
    if (settings.shortWriteAfter && !state.shortWriteDone && first <= *settings.shortWriteAfter &&
        *settings.shortWriteAfter < end) {
        accepted = static_cast<std::uint32_t>(*settings.shortWriteAfter - first);
        state.shortWriteDone = true;
        dirty = true;
    }
    state.imageCrc = Crc32Update(state.imageCrc, bytes, accepted);
    state.imageBytes += accepted;
    state.updateBytes += accepted;
    state.lastDataWrite = accepted;
    outcome.returned = accepted;
    if (unplugAt && !state.unplugDone && state.updateBytes == *unplugAt) {
        Unplug(state, nowUs_());
    }
    return outcome;
}

ReadOutcome InstrumentModel::Read(std::size_t instrument, std::uint32_t count)
{
    InstrumentState& state = instruments_.at(instrument);
    ReadOutcome outcome;
    if (state.unplugged) {
        outcome.status = VI_ERROR_CONN_LOST;
        return outcome;
    }
    if (state.queuedReply.empty()) {
        if (!state.updateMode) {
            outcome.timedOut = true;
            outcome.status = VI_ERROR_TMO;
            return outcome;
        }
        ScriptedReply reply;
        reply.bytes = "0";
        const std::vector<ScriptedReply>& script = SettingsOf(state).replies;
        if (state.scriptPosition < script.size()) {
            reply = script[state.scriptPosition];
            ++state.scriptPosition;
        }
        dirty = true;
        if (reply.silent) {
            outcome.timedOut = true;
            outcome.status = VI_ERROR_TMO;
            return outcome;
        }
        state.queuedReply = reply.bytes;
        if (state.endFrameReplyDue && ReplyStatus(reply.bytes) == '0') {
            state.imageAccepted = true;
        }
        state.endFrameReplyDue = false;
    }
    const std::size_t taken = std::min<std::size_t>(count, state.queuedReply.size());
    outcome.bytes = state.queuedReply.substr(0, taken);
    state.queuedReply.erase(0, taken);
    outcome.status = state.queuedReply.empty() ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
    dirty = true;
    return outcome;
}

}  // namespace zqsim
