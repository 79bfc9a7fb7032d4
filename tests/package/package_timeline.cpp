#include "tests/package/package_timeline.h"

#include "link/update_link.h"

#include <algorithm>
#include <sstream>

namespace meterload::testing {

std::string Hex(const Bytes& bytes)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

bool IsWireLine(const WireEvent& event)
{
    return event.name == "viWrite" || event.name == "viRead" || event.name == "load" || event.name == "unload";
}

std::string WireLine(const WireEvent& event)
{
    if (event.name == "viWrite") {
        return "write " + Hex(event.bytes);
    }
    if (event.name == "viRead") {
        return "read " + event.Field("count") + " " + (event.bytes.empty() ? "-" : Hex(event.bytes));
    }
    return event.name;
}

void Timeline::Flush()
{
    const std::vector<WireEvent> events = ParseTranscript(transcript_());
    for (std::size_t i = seen_; i < events.size(); ++i) {
        if (IsWireLine(events[i])) {
            lines_.push_back(WireLine(events[i]));
        }
    }
    seen_ = events.size();
}

void Timeline::Add(const std::string& line)
{
    Flush();
    lines_.push_back(line);
}

std::vector<std::string> Timeline::Lines()
{
    Flush();
    return lines_;
}

std::string Timeline::Text()
{
    std::string text;
    for (const std::string& line : Lines()) {
        text += line + "\n";
    }
    return text;
}

void TimelineClock::SleepUntil(std::chrono::microseconds deadline)
{
    const long long ahead = std::max<long long>((deadline - clock_.Now()).count(), 0);
    std::string milliseconds = std::to_string(ahead / 1000);
    if (ahead % 1000 != 0) {
        const std::string fraction = std::to_string(1000 + ahead % 1000);
        milliseconds += "." + fraction.substr(1);
    }
    timeline_.Add("sleep " + milliseconds);
    clock_.SleepUntil(deadline);
}

void TimelineDialog::AppendLogLine(const std::string& line)
{
    dialog_.AppendLogLine(line);
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::ClearLog()
{
    dialog_.ClearLog();
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::ScrollLogToEnd()
{
    dialog_.ScrollLogToEnd();
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::SetCaption(int control, const std::string& caption)
{
    dialog_.SetCaption(control, caption);
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::EnableControl(int control, bool enable)
{
    dialog_.EnableControl(control, enable);
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::HideControl(int control)
{
    dialog_.HideControl(control);
    timeline_.Add(Describe(dialog_.Events().back()));
}

void TimelineDialog::InvalidateAll()
{
    dialog_.InvalidateAll();
    timeline_.Add(Describe(dialog_.Events().back()));
}

std::optional<std::string> TimelineDialog::ChooseFileToOpen(const std::string& filter)
{
    auto chosen = dialog_.ChooseFileToOpen(filter);
    timeline_.Add(Describe(dialog_.Events().back()));
    return chosen;
}

bool TimelineDialog::PumpMessages()
{
    timeline_.Add("pump");
    return dialog_.PumpMessages();
}

void TimelineDialog::DrainMessages()
{
    timeline_.Add("drain");
    dialog_.DrainMessages();
}

BoxAnswer TimelineDialog::ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                                         BoxButtons buttons, BoxIcon icon)
{
    const BoxAnswer answer = dialog_.ShowMessageBox(owner, text, caption, buttons, icon);
    timeline_.Add(Describe(dialog_.Events().back()));
    return answer;
}

ExpectedTimeline& ExpectedTimeline::Line(const std::string& line)
{
    lines_.push_back(line);
    return *this;
}

ExpectedTimeline& ExpectedTimeline::Write(const Bytes& bytes)
{
    Line("write " + Hex(bytes));
    return Sleep(10);
}

ExpectedTimeline& ExpectedTimeline::Write(std::string_view text)
{
    return Write(Bytes(text.begin(), text.end()));
}

ExpectedTimeline& ExpectedTimeline::Sleep(int milliseconds)
{
    return Line("sleep " + std::to_string(milliseconds));
}

ExpectedTimeline& ExpectedTimeline::Drain()
{
    return Line("drain");
}

ExpectedTimeline& ExpectedTimeline::Read(std::uint32_t count, const Bytes& reply)
{
    return Line("read " + std::to_string(count) + " " + (reply.empty() ? "-" : Hex(reply)));
}

ExpectedTimeline& ExpectedTimeline::Box(const std::string& text, const std::string& caption)
{
    DialogEvent box;
    box.kind = DialogEvent::Kind::MessageBox;
    box.owner = BoxOwner::None;
    box.text = text;
    box.caption = caption;
    box.buttons = BoxButtons::Ok;
    box.icon = BoxIcon::Exclamation;
    box.answer = BoxAnswer::Ok;
    return Line(Describe(box));
}

ExpectedTimeline& ExpectedTimeline::Local()
{
    return Write("L0\n").Sleep(30);
}

ExpectedTimeline& ExpectedTimeline::Identify(const std::string& reply)
{
    // The identification reply is read with room for 63 bytes.
    return Write("*idn?\n").Sleep(30).Read(63, BytesOf(reply));
}

ExpectedTimeline& ExpectedTimeline::EnterUpdateMode()
{
    Write("system:update\n");
    for (int round = 0; round < 40; ++round) {
        Drain().Sleep(100);
    }
    return *this;
}

std::size_t ExpectedTimeline::Run(const Bytes& bytes, std::size_t from, int pause)
{
    const std::size_t size = bytes.size() - from;
    std::size_t full = 0;
    std::size_t last = size;
    if (size > 240) {
        full = (size - 1) / 240;
        last = size - 240 * full;
    }
    std::size_t at = from;
    for (std::size_t chunk = 0; chunk < full; ++chunk, at += 240) {
        Drain().Sleep(pause);
        Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + 240)));
    }
    if (last > 0) {
        Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end()));
    }
    return last;
}

bool ExpectedTimeline::Acknowledge(int wait, const Bytes& reply, const std::function<Bytes()>& endFrameReply,
                                   bool frameFails)
{
    // Status replies are read with room for 239 bytes.
    Sleep(wait).Read(239, reply);
    const bool accepted =
        !reply.empty() && (reply[0] == '0' || (reply[0] == 0xAB && reply.size() > 1 && reply[1] == '0'));
    if (!accepted) {
        return false;
    }
    Write(Bytes(kEndFrame.begin(), kEndFrame.end()));
    if (frameFails) {
        return false;
    }
    Read(239, endFrameReply());
    return true;
}

std::string ExpectedTimeline::Text() const
{
    std::string text;
    for (const std::string& line : lines_) {
        text += line + "\n";
    }
    return text;
}

}  // namespace meterload::testing
