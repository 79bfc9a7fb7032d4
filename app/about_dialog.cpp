#include "app/about_dialog.h"

#include "res/resource.h"

namespace meterload {

INT_PTR AboutDialog::DoModal() {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), parent_,
                           &AboutDialog::DialogProc, 0);
}

INT_PTR CALLBACK AboutDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace meterload
