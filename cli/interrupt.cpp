#include "cli/interrupt.h"

#include "update/exit_codes.h"

#include <atomic>

namespace meterload::cli {
namespace {

std::atomic<int> presses{0};
// The count of presses when the first instrument entered update mode; -1 before.
std::atomic<int> pressesAtUpdateMode{-1};
std::atomic<int> transfers{0};
std::atomic<int> waits{0};
std::atomic<bool> waitStopSaid{false};

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

void TransferBegins()
{
    ++transfers;
}
void TransferEnds()
{
    --transfers;
}
void WaitBegins()
{
    ++waits;
}
void WaitEnds()
{
    --waits;
}

int PressesSoFar()
{
    return presses.load();
}

bool PressedSince(int mark)
{
    return presses.load() > mark;
}

void OnInterrupt()
{
    const int count = ++presses;
    const int from = pressesAtUpdateMode.load();
    if (waits.load() > 0 && transfers.load() == 0) {
        // Nothing is in update mode any more: stopping loses only the check.
        if (!waitStopSaid.exchange(true)) {
            RawWriteError("\nStopped waiting for the power cycle; what was installed stays installed.\n");
        } else {
            RawWriteError("\nInterrupted.\n");
            QuitNow(kInterrupted);
        }
        return;
    }
    if (from >= 0) {
        if (count - from == 1) {
            RawWriteError("\nStopping now leaves the ZQ6140 in update mode: it will need a power cycle and a new "
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
