#include "app/update_dialog.h"

#include "app/about_dialog.h"
#include "app/gradient.h"
#include "platform/clock.h"
#include "platform/wide_text_win32.h"
#include "res/resource.h"

#include <iterator>
#include <string>

namespace meterload {

namespace {
constexpr wchar_t kQuitQuestion[] = L"Are you sure, you want to quit?";
constexpr wchar_t kQuitCaption[] = L"ZQ6140 firmware update";
// The log font's cell height at 96 dots per inch.
constexpr int kLogFontHeight = 16;

// Icon 128 at the size the system draws it, so that it stays sharp on a
// high-DPI screen instead of being stretched from a smaller image.
HICON LoadMainIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}
}  // namespace

UpdateDialog::UpdateDialog(HINSTANCE instance, HWND parent)
    : instance_(instance),
      parent_(parent),
      icon_(LoadMainIcon(instance, SM_CXICON, SM_CYICON)),
      smallIcon_(LoadMainIcon(instance, SM_CXSMICON, SM_CYSMICON)),
      driver_(UpdateContext{port_, SystemClock(), kVisaLibraryName, std::string(), nullptr,
                            &history_}) {}

UpdateDialog::~UpdateDialog() {
    // The log font lives as long as the dialog that shows it.
    if (logFont_ != nullptr) {
        DeleteObject(logFont_);
    }
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

INT_PTR UpdateDialog::DoModal() {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), parent_,
                           &UpdateDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK UpdateDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<UpdateDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        return self->HandleMessage(message, wParam, lParam);
    }
    auto* self = reinterpret_cast<UpdateDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR UpdateDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_SYSCOMMAND:
        if (!OnSysCommand(wParam)) {
            return FALSE;
        }
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_PAINT: OnPaint(); return TRUE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            OnCommand(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
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
        wchar_t about[256] = {};
        if (LoadStringW(instance_, IDS_ABOUTBOX, about, static_cast<int>(std::size(about))) > 0) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    SetLogFont();

    // The ready flag starts at 0 in the freshly made driver; the check sets it.
    driver_.CheckInstrument();
    return TRUE;
}

void UpdateDialog::SetLogFont() {
    if (logFont_ == nullptr) {
        // The height grows with the screen's DPI, as the dialog does; any
        // character set, so that file names in any script show.
        const HDC screen = GetDC(window_);
        const int dpi =
            screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
        if (screen != nullptr) {
            ReleaseDC(window_, screen);
        }
        logFont_ = CreateFontW(MulDiv(kLogFontHeight, dpi, USER_DEFAULT_SCREEN_DPI), 0, 0, 0,
                               FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Arial");
    }
    SendMessageW(logControl_.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(logFont_), TRUE);
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
    case IDOK: OnOK(); break;
    case IDCANCEL: OnCancel(); break;
    case IDC_EXIT: OnExit(); break;
    default: break;
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
    if (MessageBoxW(window_, kQuitQuestion, kQuitCaption, MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        EndDialog(window_, IDOK);
    }
}

}  // namespace meterload
