#include "app/update_dialog.h"

#include "app/about_dialog.h"
#include "app/gradient.h"
#include "platform/clock.h"
#include "res/resource.h"

#include <string>

namespace meterload {

namespace {
constexpr char kQuitQuestion[] = "Are you sure, you want to quit?";
constexpr char kQuitCaption[] = "ZQ6140 firmware update";
}  // namespace

UpdateDialog::UpdateDialog(HINSTANCE instance, HWND parent)
    : instance_(instance),
      parent_(parent),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      driver_(UpdateContext{port_, SystemClock(), kVisaLibraryName, std::string(), nullptr, &history_}) {}

UpdateDialog::~UpdateDialog() {
    // The log font lives as long as the dialog that shows it.
    if (logFont_ != nullptr) {
        DeleteObject(logFont_);
    }
}

INT_PTR UpdateDialog::DoModal() {
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_UPDATE_DIALOG), parent_,
                           &UpdateDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK UpdateDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<UpdateDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
        return self->HandleMessage(message, wParam, lParam);
    }
    auto* self = reinterpret_cast<UpdateDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return self != nullptr ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR UpdateDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SYSCOMMAND:
        if (!OnSysCommand(wParam)) {
            return FALSE;
        }
        SetWindowLongPtrA(window_, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            OnCommand(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void UpdateDialog::BindControls() {
    selectButton_ = GetDlgItem(window_, IDC_SELECT);
    exitButton_ = GetDlgItem(window_, IDC_EXIT);
    logControl_.Attach(GetDlgItem(window_, IDC_LOG));
    port_.Attach(window_);
}

BOOL UpdateDialog::OnInitDialog() {
    BindControls();

    if (HMENU systemMenu = GetSystemMenu(window_, FALSE); systemMenu != nullptr) {
        char about[256] = {};
        if (LoadStringA(instance_, IDS_ABOUTBOX, about, static_cast<int>(sizeof about)) > 0) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    SetLogFont();

    // The ready flag starts at 0 in the freshly made driver; the check sets it.
    driver_.CheckInstrument();
    return TRUE;
}

void UpdateDialog::SetLogFont() {
    if (logFont_ == nullptr) {
        logFont_ = CreateFontA(16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               FF_SWISS, "Arial");
    }
    SendMessageA(logControl_.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(logFont_), TRUE);
}

bool UpdateDialog::OnSysCommand(WPARAM command) {
    if ((command & 0xFFF0) != IDM_ABOUTBOX) {
        return false;
    }
    AboutDialog about(instance_, window_);
    about.DoModal();
    return true;
}

void UpdateDialog::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right - client.left;
    PaintGradientBands(
        [this] {
            RECT now;
            GetClientRect(window_, &now);
            return static_cast<int>(now.bottom - now.top);
        },
        [dc, width](int top, int grey) {
            // Red, green and blue all at the grey level.
            const HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(grey) * 0x010101u);
            const RECT band{0, top, width, top + kGradientBandHeight};
            FillRect(dc, &band, brush);
            DeleteObject(brush);
        });
    EndPaint(window_, &paint);
}

void UpdateDialog::OnCommand(WORD control) {
    switch (control) {
    case IDOK:
        OnOK();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    case IDC_EXIT:
        OnExit();
        break;
    default:
        break;
    }
}

// Enter reaches here as IDOK even while control 1 is disabled or hidden; it
// must act like a click, so it does nothing then. Otherwise an Enter during an
// update would start a second one over the open connection.
void UpdateDialog::OnOK() {
    if (!IsWindowEnabled(selectButton_) || !IsWindowVisible(selectButton_)) {
        return;
    }
    driver_.OnOK();
}

void UpdateDialog::OnExit() {
    if (MessageBoxA(window_, kQuitQuestion, kQuitCaption, MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        EndDialog(window_, IDOK);
    }
}

}  // namespace meterload
