// install: the dialog's single-image or package update on the chosen
// instrument, with the file checked first, a say before update mode, progress
// and Ctrl+C.
#include "cli/commands.h"

#include "cli/console.h"
#include "cli/console_port.h"
#include "cli/exit_codes.h"
#include "cli/file_facts.h"
#include "cli/instruments.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/terminal.h"
#include "platform/clock.h"
#include "update/update_driver.h"
#include "update/update_duration.h"
#include "update/update_history.h"
#include "update/update_observer.h"

#include <cstdio>
#include <functional>

namespace meterload::cli {
namespace {

// The dialog's words about its own buttons: kept in the record, not shown.
const std::vector<std::string> kButtonLines = {
    "After instrument power is recycled, if you want to update another binary",
    "file, please press the \"Continue\" button, otherwise press the \"OK\" button",
    "to exit.",
    "Incorrect mode. Please recycle power on instrument and",
    "click \"Select\" to try again.",
    "Incorrect mode.",
    "Please recycle power on instrument and click \"Select\" to try again.",
};

// What happened before update mode, as the say before it decided.
enum class Said { Nothing, Go, Refused, Checked, Declined, Interrupted };

class InstallObserver final : public UpdateObserver {
public:
    InstallObserver(std::function<Said(std::string_view)> decide, Progress& progress)
        : decide_(std::move(decide)), progress_(progress)
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
        InterruptsNowWarnFirst();
        TheConsole().Line("The ZQ6140 is in update mode; the transfer starts in about 4 s.");
    }
    bool MayWrite() override
    {
        stopped = stopped || StopRequested();
        progress_.Begin();
        return !stopped;
    }
    void Written(std::uint32_t count) override { progress_.Add(count); }
    void Finished(bool complete) override
    {
        progress_.Finish();
        finished = complete;
    }
    std::string Refusal() const override
    {
        return said == Said::Refused && refusal != nullptr ? OneLine(*refusal) : std::string();
    }

    Said said = Said::Nothing;
    bool entered = false;
    bool stopped = false;
    bool finished = false;
    const std::vector<std::string>* refusal = nullptr;  // the gate's, when it refused

private:
    std::function<Said(std::string_view)> decide_;
    Progress& progress_;
};

std::chrono::milliseconds Duration(const FileFacts& facts)
{
    if (!facts.package) {
        return ImageUpdateDuration(facts.bodySize);
    }
    std::vector<std::uint64_t> others;
    for (std::size_t i = 1; i < facts.rows.size(); ++i) {
        others.push_back(static_cast<std::uint64_t>(facts.rows[i].size));
    }
    return PackageUpdateDuration(others, static_cast<std::uint64_t>(facts.rows.front().size));
}

std::string Seconds(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

std::vector<std::string> Plan(const FileFacts& facts, const FoundInstrument& instrument,
                              const FirmwareVersions& versions)
{
    const std::string header = "for the " + TargetName(facts.header.targetKind) + ", version \"" +
                               Printable(facts.header.version.data()) + "\"";
    std::string file = facts.fileName + ": ";
    if (facts.package) {
        std::string order;
        for (const std::int32_t n : facts.sendOrder) {
            order += (order.empty() ? "" : ", ") + std::to_string(n);
        }
        file += "package of " + std::to_string(facts.entryCount) + " images sent as entries " + order +
                "; entry 1 " + header;
    } else {
        file += "single image " + header;
    }
    return {
        "Instrument:  " + instrument.serial + " (" + instrument.resource + "), installed DSP " +
            Printable(versions.dsp) + ", Panel " + Printable(versions.panel) + ", MSP 430 " +
            Printable(versions.msp430),
        "File:        " + Printable(file),
        "Transfer:    " + std::to_string(facts.BytesToSend()) + " bytes, about " + Seconds(Duration(facts)) +
            " in update mode; afterwards the instrument must be switched off and on",
    };
}

// Asks on the terminal; false unless the answer is yes.
bool Confirm()
{
    std::fprintf(stderr, "Switch the ZQ6140 into update mode and install? [y/N] ");
    std::fflush(stderr);
    const auto answer = ReadAnswerLine();
    if (!answer) {
        std::fprintf(stderr, "\n");
    }
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "YES");
}

}  // namespace

int RunInstall(const CommonOptions& common, const InstallOptions& options)
{
    Report report("install", common.json);
    report.Data()["dry_run"] = options.dryRun;
    if (!options.yes && !options.dryRun && !StandardInputIsTerminal()) {
        return report.Fail(kUsage, "Standard input is not a terminal, so nobody can confirm the update.",
                           "Add --yes to install without asking, or --dry-run to check only.");
    }

    // The file first: nothing is touched for a file that no instrument takes.
    const FileFacts facts = ReadFileFacts(options.file);
    report.Data()["file"] = FactsJson(facts);
    if (const Problem problem = FileProblem(facts)) {
        return report.Fail(problem.code, problem.message, problem.next);
    }

    const Selected chosen = SelectInstrument(common.visaLibrary, options.serial);
    if (chosen.problem) {
        return report.Fail(chosen.problem.code, chosen.problem.message, chosen.problem.next);
    }
    report.Data()["instrument"] = InstrumentJson(chosen.instrument);
    report.Data()["duration_ms"] = Duration(facts).count();

    std::vector<std::string> refusal;
    const auto decide = [&](std::string_view fieldView) {
        const std::string field(fieldView);
        const FirmwareVersions versions = DecodeFirmwareVersions(field);
        report.Data()["firmware_version_field"] = field;
        // The package update has judged its entry 1 itself by now; a single
        // image is judged here, before update mode rather than in it.
        if (!facts.package) {
            const GateVerdict verdict = JudgeVersion(facts, field, RefusalForm::Box);
            if (!verdict.accepted) {
                refusal = verdict.refusal;
                return Said::Refused;
            }
        }
        for (const std::string& line : Plan(facts, chosen.instrument, versions)) {
            TheConsole().Line(line);
        }
        if (options.dryRun) {
            return Said::Checked;
        }
        if (!options.yes && !Confirm()) {
            return StopRequested() ? Said::Interrupted : Said::Declined;
        }
        return Said::Go;
    };

    ConsolePort port(options.file);
    port.Silence(kButtonLines);
    Progress progress(TheConsole(), StandardErrorIsTerminal(),
                      facts.package ? facts.sendSizes : std::vector<std::uint64_t>{facts.bodySize});
    InstallObserver observer(decide, progress);
    observer.refusal = &refusal;
    HistoryFile history(HistoryPath(), [](const std::string& error) {
        TheConsole().Line("Warning: this update is not in the history: " + error);
    });
    UpdateDriver driver(UpdateContext{port, SystemClock(), chosen.library.library, chosen.instrument.serial, &observer,
                                      &history});
    driver.Update();

    report.Data()["update_mode_entered"] = observer.entered;
    report.Data()["log"] = port.Lines();
    report.Data()["boxes"] = port.Boxes();
    const auto result = [&report](const char* text) { report.Data()["result"] = text; };

    if (observer.entered) {
        if (observer.stopped) {
            result("interrupted");
            return report.Fail(kInterrupted, "Stopped: the ZQ6140 is left in update mode.",
                               "Switch it off and on, then run the update again.");
        }
        if (observer.finished) {
            result("installed");
            return report.Finish(kDone);
        }
        result("failed");
        return report.Fail(kUpdateFailed, "The update failed after the ZQ6140 entered update mode.",
                           "Switch it off and on, then run the update again.");
    }

    const std::string untouched = "The instrument was not switched into update mode.";
    switch (observer.said) {
    case Said::Refused:
        result("refused");
        return report.Fail(kFileRefused, OneLine(refusal), untouched);
    case Said::Checked:
        result("checked");
        TheConsole().Line("Dry run: every check passed. " + untouched);
        return report.Finish(kDone);
    case Said::Declined:
        result("declined");
        return report.Fail(kInterrupted, "Not installed. " + untouched);
    case Said::Interrupted:
        result("interrupted");
        return report.Fail(kInterrupted, "Interrupted. " + untouched);
    case Said::Go:
    case Said::Nothing:
        break;
    }

    // The procedure stopped on its own before update mode; its words are out.
    if (StopRequested()) {
        result("interrupted");
        return report.Fail(kInterrupted, "Interrupted. " + untouched);
    }
    if (port.Boxed("ZQ6140 device not found.")) {
        result("not found");
        return report.Fail(kNoInstrument, "ZQ6140 device not found.",
                           "Attach the instrument, switch it on, and run the command again.");
    }
    if (port.Said("Incorrect mode. Please recycle power on instrument and") ||
        port.Boxed("Incorrect mode.\nPlease recycle power on instrument and click \"Select\" to try again.")) {
        result("wrong mode");
        const Problem problem = WrongModeProblem();
        return report.Fail(problem.code, problem.message, problem.next);
    }
    if (port.Boxed("The firmware update device missed.") || port.Boxed("DMM device serial no miss.")) {
        result("another instrument");
        return report.Fail(kInstrumentFault, "The package reached another instrument than the one identified.",
                           "Attach only the instrument to update, or name it with --serial, and run the update again.");
    }
    result("refused");
    return report.Fail(kFileRefused, port.Boxes().empty() ? "The file was refused." : OneLine(port.Boxes()),
                       untouched);
}

}  // namespace meterload::cli
