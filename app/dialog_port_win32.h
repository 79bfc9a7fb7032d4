// What the update procedures ask of the main dialog, done on its real window
// and controls.
#pragma once

#include "update/dialog_port.h"

#include <windows.h>

#include <optional>
#include <string>

namespace meterload {

class DialogPortWin32 final : public DialogPort {
public:
    // The dialog's window, once it exists.
    void Attach(HWND dialog) { dialog_ = dialog; }

    void AppendLogLine(const std::string& line) override;
    void ClearLog() override;
    void ScrollLogToEnd() override;

    bool PumpMessages() override;
    void DrainMessages() override;

    void SetCaption(int control, const std::string& caption) override;
    void EnableControl(int control, bool enable) override;
    void HideControl(int control) override;
    void InvalidateAll() override;

    BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                             BoxButtons buttons, BoxIcon icon) override;

    std::optional<std::string> ChooseFileToOpen(const std::string& filter) override;

private:
    HWND Control(int control) const { return GetDlgItem(dialog_, control); }

    HWND dialog_ = nullptr;
};

// "Description|pattern|...||" as the open-file dialog wants it: the parts
// separated by zero characters and the whole ended by two.
std::string OpenFileFilter(const std::string& barSeparated);

}  // namespace meterload
