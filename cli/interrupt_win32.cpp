#include "cli/interrupt.h"

#include <windows.h>

#include <cstring>

namespace meterload::cli {
namespace {

BOOL WINAPI Handle(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        OnInterrupt();
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void InstallInterruptHandler()
{
    SetConsoleCtrlHandler(Handle, TRUE);
}

// The console's handler runs in a thread of its own, which interrupts a read
// in any thread.
void LeaveInterruptsToOtherThreads() {}

void RawWriteError(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void QuitNow(int code)
{
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace meterload::cli
