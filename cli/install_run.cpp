#include "cli/install_run.h"

#include "cli/console.h"
#include "cli/console_port.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "platform/clock.h"
#include "platform/joined_text.h"
#include "update/exit_codes.h"
#include "update/update_driver.h"
#include "update/update_duration.h"
#include "update/update_history.h"
#include "update/update_observer.h"

#include <cstdio>
#include <exception>
#include <optional>

namespace meterload::cli {
namespace {

// What happened before update mode, as the say before it decided.
enum class Said { Nothing, Go, Refused, Checked, Declined, Interrupted };

class InstallObserver final : public UpdateObserver {
public:
    InstallObserver(std::function<Said(std::string_view)> decide, Progress& progress,
                    std::function<void(const std::string&)> say)
        : decide_(std::move(decide)), progress_(progress), say_(std::move(say))
    {
    }

    bool MayEnterUpdateMode(std::string_view field) override
    {
        said = StopRequested() ? Said::Interrupted : decide_(field);
        return said == Said::Go;
    }
    void EnteredUpdateMode() override
    {
        entered = true;
        TransferBegins();
        InterruptsNowWarnFirst();
        progress_.Phase("update mode, settling");
        say_("The ZQ6140 is in update mode; the transfer starts in about 4 s.");
    }
    bool MayWrite() override
    {
        progress_.Begin();
        return !TransferStopRequested();
    }
    void Written(std::uint32_t count) override { progress_.Add(count); }
    void Finished(bool) override { progress_.Finish(); }
    std::string Refusal() const override
    {
        return said == Said::Refused && refusal != nullptr ? OneLine(*refusal) : std::string();
    }

    Said said = Said::Nothing;
    bool entered = false;
    const std::vector<std::string>* refusal = nullptr;  // the gate's, when it refused

private:
    std::function<Said(std::string_view)> decide_;
    Progress& progress_;
    std::function<void(const std::string&)> say_;
};

std::string SecondsText(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

void SetResult(InstallOutcome& outcome, InstallResult result, int code, std::string message,
               std::string next = std::string())
{
    outcome.result = result;
    outcome.code = code;
    outcome.message = std::move(message);
    outcome.next = std::move(next);
}

// What the command line says beside a result the procedure's outcome decided.
void Explain(InstallOutcome& outcome, const UpdateOutcome& update)
{
    const std::string again = "Switch it off and on, then run the update again.";
    const std::string untouched = "The instrument was not switched into update mode.";
    switch (outcome.result) {
    case InstallResult::Installed:
    case InstallResult::Checked: return;
    case InstallResult::Declined: outcome.message = "Not installed. " + untouched; return;
    case InstallResult::Interrupted:
        if (update.updateModeEntered) {
            outcome.message = "Stopped: the ZQ6140 is left in update mode.";
            outcome.next = again;
        } else {
            outcome.message = "Interrupted. " + untouched;
        }
        return;
    case InstallResult::Failed:
        outcome.message = "The update failed after the ZQ6140 entered update mode.";
        outcome.next = again;
        return;
    case InstallResult::Refused:
        outcome.message = update.texts.empty() ? "The file was refused." : OneLine(update.texts);
        outcome.next = untouched;
        return;
    case InstallResult::NotFound: {
        const Problem problem = NotFoundProblem();
        outcome.message = problem.message;
        outcome.next = problem.next;
        return;
    }
    case InstallResult::WrongMode: {
        const Problem problem = WrongModeProblem();
        outcome.message = problem.message;
        outcome.next = problem.next;
        return;
    }
    case InstallResult::AnotherInstrument:
        outcome.message = "The package reached another instrument than the one identified.";
        outcome.next = "Attach only the instrument to update, or name it with --serial, and run the update again.";
        return;
    }
}

// What the procedure's outcome means for the command line.
void Judge(InstallOutcome& outcome, const UpdateOutcome& update, Said said, const std::vector<std::string>& refusal)
{
    outcome.reasonKey = FactsOf(update.reason).key;
    if (!update.updateModeEntered) {
        const std::string untouched = "The instrument was not switched into update mode.";
        // The front end's own decision before update mode.
        switch (said) {
        case Said::Refused:
            SetResult(outcome, InstallResult::Refused, kFileRefused, OneLine(refusal), untouched);
            return;
        case Said::Checked:
            SetResult(outcome, InstallResult::Checked, kDone, "Dry run: every check passed. " + untouched);
            outcome.reasonKey.clear();
            return;
        case Said::Declined:
            SetResult(outcome, InstallResult::Declined, kInterrupted, std::string());
            Explain(outcome, update);
            return;
        case Said::Interrupted:
            SetResult(outcome, InstallResult::Interrupted, kInterrupted, std::string());
            Explain(outcome, update);
            return;
        case Said::Go:
        case Said::Nothing: break;
        }
        // The procedure stopped on its own before update mode; its words are out.
        if (StopRequested()) {
            SetResult(outcome, InstallResult::Interrupted, kInterrupted, std::string());
            Explain(outcome, update);
            return;
        }
    }
    const Verdict& verdict = VerdictOf(update);
    SetResult(outcome, verdict.result, verdict.code, std::string());
    Explain(outcome, update);
}

// The say before update mode: a single image's version gate (a package's
// entry 1 the package update has judged itself by now), the instrument's
// line, then the question unless it is a dry run or --yes.
Said Decide(const std::string& field, const FoundInstrument& instrument, const InstallSettings& settings,
            const InstallHooks& hooks, std::vector<std::string>& refusal)
{
    if (!settings.facts.package) {
        const GateVerdict verdict = JudgeVersion(settings.facts, field, RefusalForm::Box);
        if (!verdict.accepted) {
            refusal = verdict.refusal;
            return Said::Refused;
        }
    }
    hooks.plan(InstrumentLine(instrument, DecodeFirmwareVersions(field)));
    if (settings.dryRun) {
        return Said::Checked;
    }
    if (!settings.yes && !hooks.confirm()) {
        return StopRequested() ? Said::Interrupted : Said::Declined;
    }
    return Said::Go;
}

}  // namespace

std::chrono::milliseconds UpdateModeDuration(const FileFacts& facts)
{
    if (!facts.package) {
        return ImageUpdateDuration(facts.bodySize);
    }
    return PackageUpdateDuration(facts.plan);
}

std::vector<std::uint64_t> SentSizes(const FileFacts& facts)
{
    if (!facts.package) {
        return {facts.bodySize};
    }
    std::vector<std::uint64_t> sizes;
    for (const PlannedImage& image : facts.plan.images) {
        sizes.push_back(image.bytesToSend);
    }
    return sizes;
}

std::vector<std::string> FileLines(const FileFacts& facts)
{
    const std::string header = "for the " + TargetName(facts.header.targetKind) + ", version \"" +
                               Printable(facts.header.version.data()) + "\"";
    std::string file = facts.fileName + ": ";
    if (facts.package) {
        const std::string order = Joined(facts.SendOrder(), [](std::int32_t n) { return std::to_string(n); });
        file += "package of " + std::to_string(facts.entryCount) + " images sent as entries " + order + "; entry 1 " +
                header;
    } else {
        file += "single image " + header;
    }
    return {
        "File:        " + Printable(file),
        "Transfer:    " + std::to_string(facts.BytesToSend()) + " bytes, about " +
            SecondsText(UpdateModeDuration(facts)) +
            " in update mode; afterwards the instrument must be switched off and on",
    };
}

std::string InstrumentLine(const FoundInstrument& instrument, const FirmwareVersions& versions)
{
    return "Instrument:  " + instrument.serial + " (" + instrument.resource + "), installed DSP " +
           Printable(versions.dsp) + ", Panel " + Printable(versions.panel) + ", MSP 430 " + Printable(versions.msp430);
}

bool AskYes(const std::string& question)
{
    TheConsole().Prompt(question);
    const auto answer = ReadAnswerLine();
    if (!answer) {
        TheConsole().Prompt("\n");
    }
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "YES");
}

InstallOutcome InstallOn(const FoundInstrument& instrument, const InstallSettings& settings, const InstallHooks& hooks,
                         Progress& progress)
{
    InstallOutcome outcome;
    std::vector<std::string> refusal;
    const auto decide = [&](std::string_view field) {
        outcome.firmwareVersionField = std::string(field);
        return Decide(*outcome.firmwareVersionField, instrument, settings, hooks, refusal);
    };

    ConsolePort port(settings.facts.path, hooks.say);
    InstallObserver observer(decide, progress, hooks.say);
    observer.refusal = &refusal;
    HistoryFile history(settings.historyPath, [&hooks](const std::string& error) {
        hooks.say("Warning: this update is not in the history: " + error);
    });
    const auto start = SystemClock().Now();
    UpdateContext context{port, SystemClock(), settings.visaLibrary, instrument.serial, &observer, &history};
    context.libraryHeldElsewhere = settings.libraryHeldElsewhere;
    UpdateDriver driver(context);
    UpdateOutcome update;
    std::optional<std::string> thrown;
    try {
        update = driver.Update();
    } catch (const std::exception& error) {
        thrown = error.what();
    }
    if (observer.entered) {
        TransferEnds();
    }
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SystemClock().Now() - start);
    outcome.log = port.Lines();
    outcome.boxes = port.Boxes();
    if (thrown) {
        // Whatever threw, the instrument is where the observer last saw it.
        outcome.updateModeEntered = observer.entered;
        SetResult(outcome, InstallResult::Failed, observer.entered ? kUpdateFailed : kInstrumentFault, *thrown,
                  observer.entered ? "Switch it off and on, then run the update again." : std::string());
        return outcome;
    }
    outcome.updateModeEntered = update.updateModeEntered;
    Judge(outcome, update, observer.said, refusal);
    return outcome;
}

}  // namespace meterload::cli
