#include "cli/interrupt.h"

#include "cli/exit_codes.h"

#include <atomic>

namespace meterload::cli {
namespace {

std::atomic<int> presses{0};
std::atomic<bool> warnFirst{false};

}  // namespace

void InterruptsNowWarnFirst()
{
    // Presses made before update mode are forgiven: the first one during the
    // transfer still only warns.
    presses = 0;
    warnFirst = true;
}

bool StopRequested()
{
    return presses.load() >= (warnFirst.load() ? 2 : 1);
}

void OnInterrupt()
{
    const int count = ++presses;
    if (warnFirst.load()) {
        if (count == 1) {
            RawWriteError(
                "\nStopping now leaves the ZQ6140 in update mode: it will need a power cycle and a new "
                "update. Press Ctrl+C again to stop anyway.\n");
        } else if (count == 2) {
            RawWriteError("\nStopping before the next write.\n");
        }
    } else if (count >= 2) {
        RawWriteError("\nInterrupted.\n");
        QuitNow(kInterrupted);
    }
}

}  // namespace meterload::cli
