// The About box: template 100, with the dialog defaults only.
#pragma once

#include <windows.h>

namespace meterload {

class AboutDialog {
public:
    AboutDialog(HINSTANCE instance, HWND parent) : instance_(instance), parent_(parent) {}

    // Runs the box modally; OK, Enter, Esc and the close box end it.
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    HWND parent_;
};

}  // namespace meterload
