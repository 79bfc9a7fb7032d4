#include "app/dialog_port_win32.h"

#include <commdlg.h>

#include <vector>

namespace meterload {

std::string DialogPortWin32::LogText() {
    const HWND log = Control(kLogControl);
    const int length = GetWindowTextLengthA(log);
    if (length <= 0) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(log, text.data(), length + 1);
    return std::string(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

void DialogPortWin32::SetLogText(const std::string& text) {
    SetWindowTextA(Control(kLogControl), text.c_str());
}

void DialogPortWin32::ScrollLogToEnd() {
    const HWND log = Control(kLogControl);
    const auto length = static_cast<WPARAM>(GetWindowTextLengthA(log));
    SendMessageA(log, EM_SETSEL, length, static_cast<LPARAM>(length));
    SendMessageA(log, EM_SCROLLCARET, 0, 0);
}

bool DialogPortWin32::PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

void DialogPortWin32::DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void DialogPortWin32::SetCaption(int control, const std::string& caption) {
    SetWindowTextA(Control(control), caption.c_str());
}

void DialogPortWin32::EnableControl(int control, bool enable) {
    EnableWindow(Control(control), enable ? TRUE : FALSE);
}

void DialogPortWin32::HideControl(int control) {
    ShowWindow(Control(control), SW_HIDE);
}

void DialogPortWin32::InvalidateAll() {
    InvalidateRect(dialog_, nullptr, TRUE);
}

BoxAnswer DialogPortWin32::ShowMessageBox(BoxOwner owner, const std::string& text,
                                          const std::string& caption, BoxButtons buttons,
                                          BoxIcon icon) {
    UINT type = buttons == BoxButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    type |= icon == BoxIcon::Question ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
    const HWND ownerWindow = owner == BoxOwner::Dialog ? dialog_ : nullptr;
    const int answer = MessageBoxA(ownerWindow, text.c_str(), caption.c_str(), type);
    return answer == IDOK ? BoxAnswer::Ok : BoxAnswer::Cancel;
}

std::optional<std::string> DialogPortWin32::ChooseFileToOpen(const std::string& filter) {
    const std::string filterText = OpenFileFilter(filter);
    // Room for long paths as well; the dialog fails (and counts as cancelled)
    // only for names beyond this.
    std::vector<char> path(32768, '\0');

    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = dialog_;
    request.lpstrFilter = filterText.c_str();
    // Empty rather than none: a name typed without an extension gets the
    // chosen file type's first one.
    request.lpstrDefExt = "";
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    request.Flags = OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&request)) {
        return std::nullopt;
    }
    return std::string(path.data());
}

std::string OpenFileFilter(const std::string& barSeparated) {
    std::string filter = barSeparated;
    for (char& c : filter) {
        if (c == '|') {
            c = '\0';
        }
    }
    // A filter without the closing bars still ends with the two zeros the
    // dialog looks for.
    filter.push_back('\0');
    filter.push_back('\0');
    return filter;
}

}  // namespace meterload
