// One ordered record of everything an update does that the user or the
// instrument could notice: the writes and reads on the wire, every pause, every
// queue drain and every message box, as one line each. Tests compare it whole
// with the record the procedure should leave, so a failure shows the first
// line where they part.
#pragma once

#include "platform/clock.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/transcript.h"
#include "tests/support/virtual_clock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace meterload::testing {

using Bytes = std::vector<std::uint8_t>;

// "write <hex>", "read <count> <hex or ->", "load", "unload".
std::string WireLine(const WireEvent& event);
bool IsWireLine(const WireEvent& event);

class Timeline {
public:
    // `transcript` gives the simulator's whole transcript so far.
    explicit Timeline(std::function<std::string()> transcript) : transcript_(std::move(transcript)) {}

    // Brings in what crossed the wire since the last call, then adds `line`.
    void Add(const std::string& line);
    // The whole record, one line each.
    std::string Text();
    std::vector<std::string> Lines();

private:
    void Flush();

    std::function<std::string()> transcript_;
    std::size_t seen_ = 0;
    std::vector<std::string> lines_;
};

// The procedure's clock: every pause goes on the record, time itself is the
// virtual clock's.
class TimelineClock final : public Clock {
public:
    TimelineClock(VirtualClock& clock, Timeline& timeline) : clock_(clock), timeline_(timeline) {}
    // Recorded as "sleep <ms>", the time from the call to the deadline.
    void SleepUntil(std::chrono::microseconds deadline) override;
    std::chrono::microseconds Now() const override { return clock_.Now(); }

private:
    VirtualClock& clock_;
    Timeline& timeline_;
};

// The procedure's dialog: forwards to the recorder and puts every call that
// changes what the user sees on the record (the package update itself only
// drains and shows boxes; anything else is a line no expected record holds).
class TimelineDialog final : public DialogPort {
public:
    TimelineDialog(RecordingDialog& dialog, Timeline& timeline) : dialog_(dialog), timeline_(timeline) {}

    void AppendLogLine(const std::string& line) override;
    void ClearLog() override;
    void ScrollLogToEnd() override;
    bool PumpMessages() override;
    void DrainMessages() override;
    void SetCaption(int control, const std::string& caption) override;
    void EnableControl(int control, bool enable) override;
    void HideControl(int control) override;
    void InvalidateAll() override;
    BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption, BoxButtons buttons,
                             BoxIcon icon) override;
    std::optional<std::string> ChooseFileToOpen(const std::string& filter) override;

private:
    RecordingDialog& dialog_;
    Timeline& timeline_;
};

// The record an update should leave, built step by step.
class ExpectedTimeline {
public:
    // A Write: the bytes, then the pause every write takes.
    ExpectedTimeline& Write(const Bytes& bytes);
    ExpectedTimeline& Write(std::string_view text);
    ExpectedTimeline& Sleep(int milliseconds);
    ExpectedTimeline& Drain();
    // A read of `count` bytes at most that brought `reply` (nothing: timed out).
    ExpectedTimeline& Read(std::uint32_t count, const Bytes& reply);
    // A message box without owner, OK button and exclamation icon.
    ExpectedTimeline& Box(const std::string& text, const std::string& caption);
    ExpectedTimeline& Line(const std::string& line);

    // "L0\n" and its pause.
    ExpectedTimeline& Local();
    // "*idn?\n", its pause and the identification reply.
    ExpectedTimeline& Identify(const std::string& reply);
    // "system:update\n" and the 40 settle rounds.
    ExpectedTimeline& EnterUpdateMode();
    // `size` bytes of `bytes` from `from` in 240-byte writes, each full one
    // after a drain and `pause` ms; the size of the last write, 0 for none.
    std::size_t Run(const Bytes& bytes, std::size_t from, int pause);
    // The wait and the reply to an image, then, when its status is "0", the
    // EndFrame and the reply `endFrameReply` gives. False when the reply
    // ended the update, or when `frameFails` and the failed EndFrame did.
    bool Acknowledge(int wait, const Bytes& reply, const std::function<Bytes()>& endFrameReply,
                     bool frameFails = false);

    std::string Text() const;

private:
    std::vector<std::string> lines_;
};

std::string Hex(const Bytes& bytes);
inline const Bytes kAccepted = {'0'};
inline const Bytes kNoReply = {};

}  // namespace meterload::testing
