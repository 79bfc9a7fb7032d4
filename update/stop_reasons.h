// What each way an update can end means, everywhere it is told: the stable
// key the history and the JSON output keep, the command line's result and
// exit code, and the history's result. Every front end takes these from here,
// and a new StopReason does not build until its row is written.
#pragma once

#include "update/exit_codes.h"
#include "update/update_outcome.h"

#include <string>

namespace meterload {

// The command line's word for how an install on one instrument ended.
enum class InstallResult {
    Installed,
    Checked,      // dry run: every check passed
    Declined,     // the user said no to update mode
    Interrupted,  // Ctrl+C
    Refused,      // the file was refused; the instrument was not switched
    Failed,       // it failed in update mode
    NotFound,
    WrongMode,
    AnotherInstrument,
};
const char* InstallResultText(InstallResult result);  // "installed", "not found", ...

// The history's word for an update.
enum class HistoryResult { Done, Refused, Failed };
const char* HistoryResultText(HistoryResult result);  // "done", "refused", "failed"

struct Verdict {
    InstallResult result;
    ExitCode code;
    HistoryResult history;
};

struct StopReasonFacts {
    const char* name;          // as the code spells it: "NotFound"
    const char* key;           // stable, for files and scripts: "not_found"
    Verdict beforeUpdateMode;  // the instrument was left in its normal mode
    Verdict inUpdateMode;      // it was switched into update mode first
};

const StopReasonFacts& FactsOf(StopReason reason);

// The verdict for an outcome, as far as the procedure's data tell it (a front
// end may know more: its own refusal, a dry run, Ctrl+C).
inline const Verdict& VerdictOf(const UpdateOutcome& outcome)
{
    const StopReasonFacts& facts = FactsOf(outcome.reason);
    return outcome.updateModeEntered ? facts.inUpdateMode : facts.beforeUpdateMode;
}

}  // namespace meterload
