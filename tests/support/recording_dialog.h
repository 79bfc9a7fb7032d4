// A DialogPort that records every call and answers message boxes and file
// dialogs from queues that the test fills, so that tests can check what the
// user would have seen and in which order.
#pragma once

#include "update/dialog_port.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace meterload::testing {

struct DialogEvent {
    enum class Kind {
        Log,  // the log's whole text after an append or a clearing
        ScrollLogToEnd,
        Pump,
        Drain,
        SetCaption,
        Enable,
        Hide,
        InvalidateAll,
        MessageBox,
        FileDialog,
    };

    Kind kind = Kind::Pump;
    int control = 0;      // SetCaption, Enable, Hide
    std::string text;     // Log: the whole text; SetCaption: the caption;
                          // MessageBox: the text; FileDialog: the filter
    std::string caption;  // MessageBox
    bool enable = false;  // Enable
    BoxOwner owner = BoxOwner::Dialog;
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::Exclamation;
    BoxAnswer answer = BoxAnswer::Ok;   // MessageBox: how it was dismissed
    std::optional<std::string> chosen;  // FileDialog: what it returned
    bool quit = false;                  // Pump: returned false (quit met)
};

std::string Describe(const DialogEvent& event);
std::ostream& operator<<(std::ostream& out, const DialogEvent& event);

class RecordingDialog final : public DialogPort {
public:
    RecordingDialog();

    // DialogPort
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

    // The log's whole text as the window would show it, lines separated by "\r\n".
    const std::string& LogText() const { return log_; }

    // What the next message boxes answer, in order; OK once the queue is empty.
    void QueueBoxAnswer(BoxAnswer answer) { boxAnswers_.push_back(answer); }
    // What the next file dialogs return, in order; cancelled once the queue is
    // empty. Nothing stands for a cancelled dialog.
    void QueueFileChoice(std::optional<std::string> path) { fileChoices_.push_back(std::move(path)); }

    // Called at each PumpMessages and DrainMessages, after the event is
    // recorded: lets a test act "while the window is alive".
    void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
    // Posts a quit message: the next PumpMessages removes it and returns
    // false; a DrainMessages drops it.
    void PostQuit() { quitPending_ = true; }

    // The log split at "\r\n"; no lines for an empty log.
    std::vector<std::string> LogLines() const;

    std::string Caption(int control) const;
    bool Enabled(int control) const;
    bool Visible(int control) const;

    const std::vector<DialogEvent>& Events() const { return events_; }
    std::vector<DialogEvent> EventsOf(DialogEvent::Kind kind) const;
    std::vector<DialogEvent> MessageBoxes() const { return EventsOf(DialogEvent::Kind::MessageBox); }
    std::size_t Count(DialogEvent::Kind kind) const { return EventsOf(kind).size(); }

    // Every event as one line each, for readable failure output.
    std::string EventLog() const;

private:
    struct ControlState {
        std::string caption;
        bool enabled = true;
        bool visible = true;
    };
    ControlState& Control(int control) { return controls_[control]; }

    std::string log_;
    std::map<int, ControlState> controls_;
    std::vector<DialogEvent> events_;
    std::deque<BoxAnswer> boxAnswers_;
    std::deque<std::optional<std::string>> fileChoices_;
    std::function<void()> pumpHook_;
    bool quitPending_ = false;
};

}  // namespace meterload::testing
