// Whether an instrument runs what a file carries, for `verify` and for
// `install --verify`: there after the transfer, once the operator has switched
// the instrument off and on, and every verdict kept in the history.
#pragma once

#include "cli/file_facts.h"
#include "cli/install_run.h"
#include "cli/progress.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <string>

namespace meterload::cli {

// Asks the instrument `serial` and judges it against the file; records the
// verdict in `historyPath` (a warning goes to `say` when it cannot).
VerifyOutcome VerifyNow(const FileFacts& facts, const std::string& visaLibrary, bool libraryHeldElsewhere,
                        const std::string& serial, const std::string& historyPath,
                        const std::function<void(const std::string&)>& say);

// After an install: tells the operator to switch the instrument off and on,
// waits for it to leave the search and come back, then VerifyNow.
VerifyOutcome VerifyAfterPowerCycle(const FoundInstrument& instrument, const InstallSettings& settings,
                                    const InstallHooks& hooks, Progress& progress);

// What the verdict does to the install: "installed" stays its result; one
// that is not verified exits with kNotVerified.
void ApplyVerification(InstallOutcome& outcome, const VerifyOutcome& verification);

// "Verified: the ZQ6140 reports DSP 02.06."
std::string VerificationLine(const VerifyOutcome& verification);

nlohmann::json VerificationJson(const VerifyOutcome& verification);
// "verified", "not verified (reports DSP 02.05, not 02.06)", ...
std::string VerificationCell(const VerifyOutcome& verification);

}  // namespace meterload::cli
