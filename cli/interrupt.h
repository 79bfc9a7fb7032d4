// Ctrl+C as the command line answers it. Before update mode the first press
// stops what runs at its next step (a second one ends the process at once);
// during the transfer the first press only warns, and the second stops the
// transfer before its next write.
#pragma once

namespace meterload::cli {

void InstallInterruptHandler();

// From here on the instrument is in update mode.
void InterruptsNowWarnFirst();

// Whether what runs should stop now.
bool StopRequested();

// Called by the platform's handler for each press; safe in a signal handler.
void OnInterrupt();

// Platform: writes to standard error from inside a handler; ends the process
// without running anything else.
void RawWriteError(const char* text);
[[noreturn]] void QuitNow(int code);

}  // namespace meterload::cli
