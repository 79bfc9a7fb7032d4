// The log of the main dialog, and the two ways in which long procedures keep
// the window alive.
#pragma once

#include "platform/clock.h"
#include "update/dialog_port.h"

#include <string>

namespace meterload {

class StatusLog {
public:
    StatusLog(DialogPort& dialog, Clock& clock) : dialog_(dialog), clock_(clock) {}

    // Appends `text` on a line of its own, shows the end of the log and
    // pumps messages so that it is painted at once.
    void AppendLine(const std::string& text);
    void ClearLog();
    // Empties the log and shows `text` alone; no caret move, no scrolling,
    // no pumping.
    void ReplaceLog(const std::string& text);

    // True when the queue is empty, false when a quit message was met.
    bool PumpMessages();
    // Waits n x 100 ms, pumping messages after each 100 ms.
    void WaitPumping(int n);

private:
    DialogPort& dialog_;
    Clock& clock_;
};

}  // namespace meterload
