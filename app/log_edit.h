// The main dialog's log: a multi-line edit whose text the user can select and
// copy but not type into.
#pragma once

#include <windows.h>

namespace meterload {

class LogEdit {
public:
    LogEdit() = default;
    ~LogEdit();
    LogEdit(const LogEdit&) = delete;
    LogEdit& operator=(const LogEdit&) = delete;

    // Takes over the edit control's messages (subclassing).
    void Attach(HWND edit);
    HWND Handle() const { return edit_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self);
    LRESULT OnChar(WPARAM character);

    HWND edit_ = nullptr;
};

}  // namespace meterload
