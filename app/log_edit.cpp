#include "app/log_edit.h"

#include <commctrl.h>

namespace meterload {

namespace {
constexpr UINT_PTR kSubclassId = 1;
constexpr WPARAM kCtrlA = 0x01;
constexpr WPARAM kCtrlC = 0x03;
}  // namespace

LogEdit::~LogEdit() {
    if (edit_ != nullptr) {
        RemoveWindowSubclass(edit_, &LogEdit::WindowProc, kSubclassId);
    }
}

void LogEdit::Attach(HWND edit) {
    edit_ = edit;
    SetWindowSubclass(edit_, &LogEdit::WindowProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK LogEdit::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR self) {
    if (message == WM_CHAR) {
        return reinterpret_cast<LogEdit*>(self)->OnChar(wParam);
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &LogEdit::WindowProc, kSubclassId);
        reinterpret_cast<LogEdit*>(self)->edit_ = nullptr;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Typed characters, Backspace and the editing shortcuts are discarded. The
// edit control turns Ctrl+C and Ctrl+A into copy and select-all only in its
// character handler, so those two are done here: they leave the text as it is.
LRESULT LogEdit::OnChar(WPARAM character) {
    if (character == kCtrlC) {
        SendMessageW(edit_, WM_COPY, 0, 0);
    } else if (character == kCtrlA) {
        SendMessageW(edit_, EM_SETSEL, 0, -1);
    }
    return 0;
}

}  // namespace meterload
