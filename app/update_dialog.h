// The main dialog (template 102): the log, the Select/Continue button that
// drives the update, and the Exit/OK button that ends the tool.
#pragma once

#include "app/dialog_port_win32.h"
#include "app/log_edit.h"
#include "update/update_driver.h"
#include "update/update_history.h"

#include <windows.h>

namespace meterload {

class UpdateDialog {
public:
    UpdateDialog(HINSTANCE instance, HWND parent = nullptr);
    ~UpdateDialog();
    UpdateDialog(const UpdateDialog&) = delete;
    UpdateDialog& operator=(const UpdateDialog&) = delete;

    // Runs the dialog modally; returns how it ended (IDOK after a confirmed
    // Exit), or -1 when it could not be created.
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void BindControls();
    BOOL OnInitDialog();
    void SetLogFont();
    bool OnSysCommand(WPARAM command);
    void OnPaint();
    HICON OnQueryDragIcon() const { return icon_; }
    void OnCommand(WORD control);
    void OnOK();
    void OnCancel() {}
    void OnExit();

    HINSTANCE instance_;
    HWND parent_;
    HWND window_ = nullptr;
    HWND selectButton_ = nullptr;
    HWND exitButton_ = nullptr;
    LogEdit logControl_;
    HICON icon_;       // the caption's and the task bar's
    HICON smallIcon_;  // the caption's small one
    HFONT logFont_ = nullptr;
    DialogPortWin32 port_;
    // Every update leaves its record; one that cannot be written changes nothing here.
    HistoryFile history_{HistoryPath(), nullptr};
    UpdateDriver driver_;
};

}  // namespace meterload
