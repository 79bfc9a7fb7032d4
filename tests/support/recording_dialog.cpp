#include "tests/support/recording_dialog.h"

#include "tests/support/log_lines.h"

#include <sstream>
#include <utility>

namespace meterload::testing {

namespace {

const char* OwnerName(BoxOwner owner)
{
    return owner == BoxOwner::Dialog ? "dialog" : "none";
}
const char* ButtonsName(BoxButtons buttons)
{
    return buttons == BoxButtons::Ok ? "OK" : "OK|Cancel";
}
const char* IconName(BoxIcon icon)
{
    return icon == BoxIcon::Exclamation ? "exclamation" : "question";
}
const char* AnswerName(BoxAnswer answer)
{
    return answer == BoxAnswer::Ok ? "OK" : "Cancel";
}

// Shows control characters so that "\r\n" inside texts stays visible.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string Describe(const DialogEvent& event)
{
    using Kind = DialogEvent::Kind;
    std::ostringstream out;
    switch (event.kind) {
    case Kind::Log: out << "log " << Quoted(event.text); break;
    case Kind::ScrollLogToEnd: out << "scroll-to-end"; break;
    case Kind::Pump: out << (event.quit ? "pump (quit)" : "pump"); break;
    case Kind::Drain: out << "drain"; break;
    case Kind::SetCaption: out << "caption " << event.control << " " << Quoted(event.text); break;
    case Kind::Enable: out << (event.enable ? "enable " : "disable ") << event.control; break;
    case Kind::Hide: out << "hide " << event.control; break;
    case Kind::InvalidateAll: out << "invalidate"; break;
    case Kind::MessageBox:
        out << "box owner=" << OwnerName(event.owner) << " text=" << Quoted(event.text)
            << " caption=" << Quoted(event.caption) << " buttons=" << ButtonsName(event.buttons)
            << " icon=" << IconName(event.icon) << " -> " << AnswerName(event.answer);
        break;
    case Kind::FileDialog:
        out << "file-dialog filter=" << Quoted(event.text) << " -> "
            << (event.chosen ? Quoted(*event.chosen) : std::string("cancelled"));
        break;
    }
    return out.str();
}

std::ostream& operator<<(std::ostream& out, const DialogEvent& event)
{
    return out << Describe(event);
}

RecordingDialog::RecordingDialog()
{
    // As the dialog template starts them.
    controls_[kSelectButton].caption = "Select";
    controls_[kExitButton].caption = "Exit";
    controls_[kLogControl];
}

void RecordingDialog::AppendLogLine(const std::string& line)
{
    log_ += (log_.empty() ? "" : "\r\n") + line;
    DialogEvent event;
    event.kind = DialogEvent::Kind::Log;
    event.text = log_;
    events_.push_back(std::move(event));
}

void RecordingDialog::ClearLog()
{
    log_.clear();
    DialogEvent event;
    event.kind = DialogEvent::Kind::Log;
    events_.push_back(std::move(event));
}

void RecordingDialog::ScrollLogToEnd()
{
    DialogEvent event;
    event.kind = DialogEvent::Kind::ScrollLogToEnd;
    events_.push_back(std::move(event));
}

bool RecordingDialog::PumpMessages()
{
    events_.push_back(DialogEvent{});
    const std::size_t index = events_.size() - 1;
    if (pumpHook_) {
        pumpHook_();
    }
    if (quitPending_) {
        quitPending_ = false;
        events_[index].quit = true;
        return false;
    }
    return true;
}

void RecordingDialog::DrainMessages()
{
    DialogEvent event;
    event.kind = DialogEvent::Kind::Drain;
    events_.push_back(std::move(event));
    if (pumpHook_) {
        pumpHook_();
    }
    quitPending_ = false;
}

void RecordingDialog::SetCaption(int control, const std::string& caption)
{
    Control(control).caption = caption;
    DialogEvent event;
    event.kind = DialogEvent::Kind::SetCaption;
    event.control = control;
    event.text = caption;
    events_.push_back(std::move(event));
}

void RecordingDialog::EnableControl(int control, bool enable)
{
    Control(control).enabled = enable;
    DialogEvent event;
    event.kind = DialogEvent::Kind::Enable;
    event.control = control;
    event.enable = enable;
    events_.push_back(std::move(event));
}

void RecordingDialog::HideControl(int control)
{
    Control(control).visible = false;
    DialogEvent event;
    event.kind = DialogEvent::Kind::Hide;
    event.control = control;
    events_.push_back(std::move(event));
}

void RecordingDialog::InvalidateAll()
{
    DialogEvent event;
    event.kind = DialogEvent::Kind::InvalidateAll;
    events_.push_back(std::move(event));
}

BoxAnswer RecordingDialog::ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                                          BoxButtons buttons, BoxIcon icon)
{
    DialogEvent event;
    event.kind = DialogEvent::Kind::MessageBox;
    event.owner = owner;
    event.text = text;
    event.caption = caption;
    event.buttons = buttons;
    event.icon = icon;
    if (!boxAnswers_.empty()) {
        event.answer = boxAnswers_.front();
        boxAnswers_.pop_front();
    }
    events_.push_back(event);
    return event.answer;
}

std::optional<std::string> RecordingDialog::ChooseFileToOpen(const std::string& filter)
{
    DialogEvent event;
    event.kind = DialogEvent::Kind::FileDialog;
    event.text = filter;
    if (!fileChoices_.empty()) {
        event.chosen = fileChoices_.front();
        fileChoices_.pop_front();
    }
    events_.push_back(event);
    return event.chosen;
}

std::vector<std::string> RecordingDialog::LogLines() const
{
    return SplitLogLines(log_);
}

std::string RecordingDialog::Caption(int control) const
{
    const auto found = controls_.find(control);
    return found == controls_.end() ? std::string() : found->second.caption;
}

bool RecordingDialog::Enabled(int control) const
{
    const auto found = controls_.find(control);
    return found == controls_.end() || found->second.enabled;
}

bool RecordingDialog::Visible(int control) const
{
    const auto found = controls_.find(control);
    return found == controls_.end() || found->second.visible;
}

std::vector<DialogEvent> RecordingDialog::EventsOf(DialogEvent::Kind kind) const
{
    std::vector<DialogEvent> out;
    for (const DialogEvent& event : events_) {
        if (event.kind == kind) {
            out.push_back(event);
        }
    }
    return out;
}

std::string RecordingDialog::EventLog() const
{
    std::string out;
    for (const DialogEvent& event : events_) {
        out += Describe(event);
        out += '\n';
    }
    return out;
}

}  // namespace meterload::testing
