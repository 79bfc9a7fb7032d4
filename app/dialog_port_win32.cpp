#include "app/dialog_port_win32.h"

#include "platform/wide_text_win32.h"

#include <commdlg.h>

#include <vector>

namespace meterload {

namespace {

std::string LogText(HWND log) {
    const int length = GetWindowTextLengthW(log);
    if (length <= 0) {
        return {};
    }
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(log, text.data(), length + 1);
    return Utf8Text(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

}  // namespace

void DialogPortWin32::AppendLogLine(const std::string& line) {
    // The whole text is set again, as the control has always been written:
    // one repaint, the caret left where it was.
    const HWND log = Control(kLogControl);
    std::string text = LogText(log);
    text += (text.empty() ? "" : "\r\n") + line;
    SetWindowTextW(log, WideText(text).c_str());
}

void DialogPortWin32::ClearLog() {
    SetWindowTextW(Control(kLogControl), L"");
}

void DialogPortWin32::ScrollLogToEnd() {
    const HWND log = Control(kLogControl);
    // Positions count characters, not UTF-8 bytes.
    const auto length = static_cast<WPARAM>(GetWindowTextLengthW(log));
    SendMessageW(log, EM_SETSEL, length, static_cast<LPARAM>(length));
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

bool DialogPortWin32::PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

void DialogPortWin32::DrainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void DialogPortWin32::SetCaption(int control, const std::string& caption) {
    SetWindowTextW(Control(control), WideText(caption).c_str());
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
    const int answer =
        MessageBoxW(ownerWindow, WideText(text).c_str(), WideText(caption).c_str(), type);
    return answer == IDOK ? BoxAnswer::Ok : BoxAnswer::Cancel;
}

std::optional<std::string> DialogPortWin32::ChooseFileToOpen(const std::string& filter) {
    // The zero characters inside the filter convert like any other.
    const std::wstring filterText = WideText(OpenFileFilter(filter));
    // Room for the longest path Windows has, not only MAX_PATH.
    std::vector<wchar_t> path(32768, L'\0');

    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = dialog_;
    request.lpstrFilter = filterText.c_str();
    // Empty rather than none: a name typed without an extension gets the
    // chosen file type's first one.
    request.lpstrDefExt = L"";
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    request.Flags = OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&request)) {
        return std::nullopt;
    }
    return Utf8Text(std::wstring(path.data()));
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
