// The end of an install on several instruments: the summary table (serial
// number, versions before, result, with --verify the verdict, time) that
// names the first failure, the
// JSON objects, one per instrument, and the exit code.
#pragma once

#include "cli/install_run.h"
#include "cli/report.h"

#include <vector>

namespace meterload::cli {

struct FleetSlot {
    FoundInstrument instrument;  // only the serial number when not attached
    bool attached = false;
    InstallOutcome outcome;
};

// 0 when every instrument was updated (or, on a dry run, checked); otherwise
// the exit code of the first one that was not, in the table's order.
int Summarize(Report& report, const std::vector<FleetSlot>& slots, bool verify);

}  // namespace meterload::cli
