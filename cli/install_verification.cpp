#include "cli/install_verification.h"

#include "cli/console.h"
#include "cli/console_port.h"
#include "cli/interrupt.h"
#include "platform/clock.h"
#include "update/exit_codes.h"
#include "update/power_cycle_wait.h"
#include "update/update_history.h"
#include "update/update_verification.h"

namespace meterload::cli {
namespace {

void Keep(const std::string& historyPath, const UpdateRecord& record,
          const std::function<void(const std::string&)>& say)
{
    HistoryFile history(historyPath, [&say](const std::string& error) {
        say("Warning: this verification is not in the history: " + error);
    });
    history.Record(record);
}

std::string Waited(std::chrono::seconds timeout)
{
    return std::to_string(timeout.count()) + " s";
}

// A wait that ended without an answer from the instrument: the procedure
// kept nothing, so the command keeps why.
void KeepNotVerified(const VerifyOutcome& outcome, const FoundInstrument& instrument, const InstallSettings& settings,
                     const InstallHooks& hooks)
{
    Keep(settings.historyPath,
         VerificationRecord(instrument.serial, settings.facts.path, VerifyResultText(outcome.result), std::string(),
                            outcome.detail, outcome.waited),
         hooks.say);
}

}  // namespace

VerifyOutcome VerifyNow(const FileFacts& facts, const std::string& visaLibrary, bool libraryHeldElsewhere,
                        const std::string& serial, const std::string& historyPath,
                        const std::function<void(const std::string&)>& say)
{
    ConsolePort port;
    port.SetQuiet(true);
    UpdateContext context{port, SystemClock(), visaLibrary, serial};
    context.libraryHeldElsewhere = libraryHeldElsewhere;
    const Verification verification = VerifyInstalled(context, facts.header);

    VerifyOutcome outcome;
    outcome.detail = Printable(VerificationText(verification, facts.header.targetKind));
    if (verification.found == Verification::Found::Nothing) {
        outcome.result = VerifyResult::NotFound;
        return outcome;
    }
    if (verification.found == Verification::Found::Instrument) {
        outcome.firmwareVersionField = verification.firmwareVersionField;
    }
    outcome.result = VerifyResultOf(verification.check);
    Keep(historyPath,
         VerificationRecord(serial, facts.path, VerifyResultText(outcome.result), verification.firmwareVersionField,
                            verification.check == VersionCheck::Verified ? std::string() : outcome.detail,
                            std::chrono::milliseconds(0)),
         say);
    return outcome;
}

VerifyOutcome VerifyAfterPowerCycle(const FoundInstrument& instrument, const InstallSettings& settings,
                                    const InstallHooks& hooks, Progress& progress)
{
    const auto start = SystemClock().Now();
    const auto waitedSoFar = [&start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(SystemClock().Now() - start);
    };
    // From before the operator is asked, so that no press after it is missed.
    WaitBegins();
    const int mark = PressesSoFar();
    progress.Phase("switch off and on");
    hooks.say("Switch the ZQ6140 off and on now; waiting up to " + Waited(settings.verifyTimeout) +
              " for it to leave and come back (Ctrl+C stops waiting).");
    PowerCycleWatch watch;
    watch.stop = [mark] { return PressedSince(mark); };
    bool left = false;
    watch.left = [&] {
        left = true;
        progress.Phase("off, waiting for it");
        hooks.say("It has left the bus; waiting for it to come back.");
    };
    const PowerCycleEnd end = AwaitPowerCycle(SystemClock(), settings.visaLibrary, settings.libraryHeldElsewhere,
                                              instrument.serial, settings.verifyTimeout, watch);
    WaitEnds();

    VerifyOutcome outcome;
    switch (end) {
    case PowerCycleEnd::Stopped:
        outcome.result = VerifyResult::Stopped;
        outcome.detail = "was not asked again; run verify once it is back";
        outcome.waited = waitedSoFar();
        return outcome;
    case PowerCycleEnd::TimedOut: {
        outcome.result = VerifyResult::NotVerified;
        outcome.detail = std::string(left ? "left but did not come back" : "did not leave and come back") + " within " +
                         Waited(settings.verifyTimeout);
        outcome.waited = waitedSoFar();
        KeepNotVerified(outcome, instrument, settings, hooks);
        return outcome;
    }
    case PowerCycleEnd::CameBack: break;
    }
    progress.Phase("identifying");
    hooks.say("It is back; asking for its versions.");
    outcome = VerifyNow(settings.facts, settings.visaLibrary, settings.libraryHeldElsewhere, instrument.serial,
                        settings.historyPath, hooks.say);
    outcome.waited = waitedSoFar();
    if (outcome.result == VerifyResult::NotFound) {
        // Back in the search, gone again when asked.
        outcome.result = VerifyResult::NotVerified;
        outcome.detail = "was not found when asked for its versions";
        KeepNotVerified(outcome, instrument, settings, hooks);
    }
    return outcome;
}

void ApplyVerification(InstallOutcome& outcome, const VerifyOutcome& verification)
{
    outcome.verification = verification;
    if (verification.result != VerifyResult::NotVerified || outcome.code != kDone) {
        return;
    }
    outcome.code = FactsOf(verification.result).code;
    outcome.message = "Installed, but not verified: the ZQ6140 " + verification.detail + ".";
    outcome.next = "Switch it off and on, check it with \"meterload-cli verify FILE --serial SERIAL\", and "
                   "install again if it still reports the old version.";
}

std::string VerificationLine(const VerifyOutcome& verification)
{
    std::string result = VerifyResultText(verification.result);
    if (!result.empty()) {
        result[0] = static_cast<char>(result[0] - 'a' + 'A');
    }
    return result + ": the ZQ6140 " + verification.detail + ".";
}

nlohmann::json VerificationJson(const VerifyOutcome& verification)
{
    nlohmann::json object = {{"result", VerifyResultText(verification.result)},
                             {"detail", verification.detail},
                             {"waited_ms", verification.waited.count()}};
    if (verification.firmwareVersionField) {
        object["firmware_version_field"] = *verification.firmwareVersionField;
    }
    return object;
}

std::string VerificationCell(const VerifyOutcome& verification)
{
    const std::string result = VerifyResultText(verification.result);
    if (verification.result == VerifyResult::Verified) {
        return result;
    }
    return result + " (" + verification.detail + ")";
}

}  // namespace meterload::cli
