#include "update/status_log.h"

#include "update/procedure_pauses.h"

namespace meterload {

void StatusLog::AppendLine(const std::string& text)
{
    std::string whole = dialog_.LogText();
    if (!whole.empty()) {
        whole += "\r\n";
    }
    whole += text;
    dialog_.SetLogText(whole);
    // The new line must be visible even when the user scrolled up.
    dialog_.ScrollLogToEnd();
    PumpMessages();
}

void StatusLog::ClearLog() { dialog_.SetLogText(std::string()); }

void StatusLog::SetLogText(const std::string& text) { dialog_.SetLogText(text); }

int StatusLog::PumpMessages() { return dialog_.PumpMessages() ? 1 : 0; }

void StatusLog::WaitPumping(int n)
{
    for (int i = 0; i < n; ++i) {
        clock_.Sleep(pauses::kPumpStep);
        PumpMessages();
    }
}

}  // namespace meterload
