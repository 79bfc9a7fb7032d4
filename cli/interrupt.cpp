#include "cli/interrupt.h"

#include "cli/exit_codes.h"

#include <atomic>

namespace meterload::cli {
namespace {

std::atomic<int> presses{0};
// The count of presses when the first instrument entered update mode; -1 before.
std::atomic<int> pressesAtUpdateMode{-1};

}  // namespace

void InterruptsNowWarnFirst()
{
    // Presses made before update mode are forgiven: the first one during the
    // transfer still only warns.
    int before = -1;
    pressesAtUpdateMode.compare_exchange_strong(before, presses.load());
}

bool StopRequested()
{
    return presses.load() >= 1;
}

bool TransferStopRequested()
{
    const int from = pressesAtUpdateMode.load();
    return from >= 0 && presses.load() - from >= 2;
}

void OnInterrupt()
{
    const int count = ++presses;
    const int from = pressesAtUpdateMode.load();
    if (from >= 0) {
        if (count - from == 1) {
            RawWriteError(
                "\nStopping now leaves the ZQ6140 in update mode: it will need a power cycle and a new "
                "update. Press Ctrl+C again to stop anyway.\n");
        } else if (count - from == 2) {
            RawWriteError("\nStopping before the next write.\n");
        }
    } else if (count >= 2) {
        RawWriteError("\nInterrupted.\n");
        QuitNow(kInterrupted);
    }
}

}  // namespace meterload::cli
