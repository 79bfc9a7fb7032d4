// What the update procedures need from the dialog: the log, the buttons,
// message boxes, the open-file dialog and message pumping. The Windows dialog
// implements it for real; tests implement it with a recorder.
#pragma once

#include <optional>
#include <string>

namespace meterload {

// Control identifiers of the main dialog.
enum ControlId : int {
    kSelectButton = 1,
    kLogControl = 1000,
    kExitButton = 1005,
};

enum class BoxOwner { Dialog, None };
enum class BoxButtons { Ok, OkCancel };
enum class BoxIcon { Exclamation, Question };
enum class BoxAnswer { Ok, Cancel };

class DialogPort {
public:
    virtual ~DialogPort() = default;

    // Appends `line` to the log, after a "\r\n" unless the log is empty. A
    // line may carry line breaks of its own (a blank line before or after
    // it). No caret move, no scrolling.
    virtual void AppendLogLine(const std::string& line) = 0;
    // Empties the log.
    virtual void ClearLog() = 0;
    // Puts the caret at the end of the log and scrolls it into view.
    virtual void ScrollLogToEnd() = 0;

    // Handles every waiting message without blocking. Stops at a quit
    // message, which is removed and not handled, and then returns false.
    virtual bool PumpMessages() = 0;
    // The same, except that a quit message is dropped and the draining goes on.
    virtual void DrainMessages() = 0;

    virtual void SetCaption(int control, const std::string& caption) = 0;
    virtual void EnableControl(int control, bool enable) = 0;
    virtual void HideControl(int control) = 0;
    // Invalidates the whole client area, background included.
    virtual void InvalidateAll() = 0;

    // Modal; returns how it was dismissed.
    virtual BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                                     BoxButtons buttons, BoxIcon icon) = 0;

    // The standard open-file dialog, with the filter in the
    // "Description|pattern|...||" notation and the read-only box hidden.
    // The chosen full path; nothing when cancelled or when it failed to open.
    virtual std::optional<std::string> ChooseFileToOpen(const std::string& filter) = 0;

    // The texts shown between true and false tell the user what to do with
    // the dialog's own buttons; a front end without those buttons may keep
    // them to itself. The dialog shows them like any other.
    virtual void MarkButtonAdvice(bool advice) { (void)advice; }
};

// Marks the texts shown during its lifetime as advice about the buttons.
class ButtonAdvice {
public:
    explicit ButtonAdvice(DialogPort& dialog) : dialog_(dialog) { dialog_.MarkButtonAdvice(true); }
    ~ButtonAdvice() { dialog_.MarkButtonAdvice(false); }
    ButtonAdvice(const ButtonAdvice&) = delete;
    ButtonAdvice& operator=(const ButtonAdvice&) = delete;

private:
    DialogPort& dialog_;
};

}  // namespace meterload
