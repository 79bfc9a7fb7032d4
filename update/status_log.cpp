#include "update/status_log.h"

#include "update/procedure_pauses.h"

namespace meterload {

void StatusLog::AppendLine(const std::string& text)
{
    dialog_.AppendLogLine(text);
    // The new line must be visible even when the user scrolled up.
    dialog_.ScrollLogToEnd();
    PumpMessages();
}

void StatusLog::ClearLog()
{
    dialog_.ClearLog();
}

void StatusLog::ReplaceLog(const std::string& text)
{
    dialog_.ClearLog();
    dialog_.AppendLogLine(text);
}

bool StatusLog::PumpMessages()
{
    return dialog_.PumpMessages();
}

void StatusLog::WaitPumping(int n)
{
    for (int i = 0; i < n; ++i) {
        clock_.Sleep(pauses::kPumpStep);
        PumpMessages();
    }
}

}  // namespace meterload
