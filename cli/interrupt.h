// Ctrl+C as the command line answers it. Before update mode the first press
// stops what runs at its next step (a second one ends the process at once);
// during the transfer the first press only warns, and the second stops the
// transfer before its next write. With several instruments at once the first
// press also stops each one not yet in update mode. Once no transfer is under
// way, a press stops the waits for the instruments' power cycles, and a
// second one ends the process.
#pragma once

namespace meterload::cli {

void InstallInterruptHandler();

// From here on an instrument is in update mode: presses made before are
// forgiven, and the next one only warns. Only the first call of a run counts.
void InterruptsNowWarnFirst();

// Whether what has not entered update mode should stop now: after any press.
bool StopRequested();
// Whether a transfer should stop before its next write: after the second
// press since an instrument entered update mode.
bool TransferStopRequested();

// Around each transfer, from update mode to its end, and around each wait for
// a power cycle.
void TransferBegins();
void TransferEnds();
void WaitBegins();
void WaitEnds();

// The presses so far, and whether one came after `mark`.
int PressesSoFar();
bool PressedSince(int mark);

// For a thread of its own that must not take the presses: the main thread's
// wait for an answer then ends at a press.
void LeaveInterruptsToOtherThreads();

// Called by the platform's handler for each press; safe in a signal handler.
void OnInterrupt();

// Platform: writes to standard error from inside a handler; ends the process
// without running anything else.
void RawWriteError(const char* text);
[[noreturn]] void QuitNow(int code);

}  // namespace meterload::cli
