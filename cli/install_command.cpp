// install: the dialog's single-image or package update on the chosen
// instrument, with the file checked first, a say before update mode, progress
// and Ctrl+C; on several instruments at once with --all or --serial given
// more than once.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/file_facts.h"
#include "cli/fleet_install.h"
#include "cli/install_run.h"
#include "cli/install_verification.h"
#include "cli/instruments.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/terminal.h"
#include "platform/dynamic_library.h"
#include "update/exit_codes.h"
#include "update/update_history.h"

namespace meterload::cli {

namespace {

InstallHooks ConsoleHooks(const FileFacts& facts)
{
    const auto say = [](const std::string& line) { TheConsole().Line(line); };
    const auto plan = [say, &facts](const std::string& instrumentLine) {
        say(instrumentLine);
        for (const std::string& line : FileLines(facts)) {
            say(line);
        }
    };
    return {say, plan, [] { return AskYes("Switch the ZQ6140 into update mode and install? [y/N] "); }};
}

// Waits for the power cycle after an install that finished, and asks again.
void VerifyInstall(Report& report, InstallOutcome& outcome, const FoundInstrument& instrument,
                   const InstallSettings& settings, const InstallHooks& hooks, Progress& progress)
{
    // One load of the library for the whole wait, not one per search.
    DynamicLibrary held;
    InstallSettings waiting = settings;
    waiting.libraryHeldElsewhere = held.Load(settings.visaLibrary);
    const VerifyOutcome verification = VerifyAfterPowerCycle(instrument, waiting, hooks, progress);
    ApplyVerification(outcome, verification);
    report.Data()["verification"] = VerificationJson(verification);
    if (verification.result != VerifyResult::NotVerified) {
        hooks.say(VerificationLine(verification));
    }
}

int EndWithOutcome(Report& report, const InstallOutcome& outcome)
{
    if (outcome.firmwareVersionField) {
        report.Data()["firmware_version_field"] = *outcome.firmwareVersionField;
    }
    report.Data()["update_mode_entered"] = outcome.updateModeEntered;
    report.Data()["log"] = outcome.log;
    report.Data()["boxes"] = outcome.boxes;
    report.Data()["result"] = InstallResultText(outcome.result);
    if (!outcome.reasonKey.empty()) {
        report.Data()["reason"] = outcome.reasonKey;
    }
    if (outcome.code != kDone) {
        return report.Fail(outcome.code, outcome.message, outcome.next);
    }
    if (!outcome.message.empty()) {
        TheConsole().Line(outcome.message);
    }
    return report.Finish(kDone);
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
        return report.Fail(problem);
    }
    InstallSettings settings{facts, options.dryRun, options.yes, std::string(), HistoryPath()};
    settings.verify = options.verify;
    settings.verifyTimeout = std::chrono::seconds(options.verifyTimeoutSeconds);
    const std::vector<std::string> serials = Distinct(options.serials);
    if (options.all || serials.size() > 1) {
        return InstallOnSeveral(report, common.visaLibrary, serials, settings);
    }

    const Selected chosen = SelectInstrument(common.visaLibrary, serials.empty() ? std::string() : serials.front());
    if (chosen.problem) {
        return report.Fail(chosen.problem);
    }
    report.Data()["instrument"] = InstrumentJson(chosen.instrument);
    report.Data()["duration_ms"] = UpdateModeDuration(facts).count();

    settings.visaLibrary = chosen.library.library;
    const InstallHooks hooks = ConsoleHooks(facts);
    Progress progress(TheConsole(), StandardErrorIsTerminal(), SentSizes(facts));
    InstallOutcome outcome = InstallOn(chosen.instrument, settings, hooks, progress);
    if (settings.verify && outcome.code == kDone && outcome.updateModeEntered) {
        VerifyInstall(report, outcome, chosen.instrument, settings, hooks, progress);
    }
    return EndWithOutcome(report, outcome);
}

Registered RegisterInstall(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        InstallOptions install;
    };
    const auto options = std::make_shared<Options>();
    InstallOptions& install = options->install;
    CLI::App* command =
        app.add_subcommand("install", "Install an image or a package on one instrument, or on several at once");
    AddCommonOptions(*command, options->common);
    command->add_option("FILE", install.file, "The image (.bin) or package (.pak)")->required();
    AddInstrumentChoice(*command, install.serials, install.all,
                        "The instrument's serial number (needed when several are attached); given more than once, "
                        "each of those instruments at once",
                        "Every attached ZQ6140 at once");
    command->add_flag("--dry-run", install.dryRun,
                      "Run every check on the instrument and the file, then stop before update mode");
    CLI::Option* dryRun = command->get_option("--dry-run");
    command->add_flag("--yes", install.yes, "Do not ask for confirmation (required when input is not a terminal)");
    CLI::Option* verify = command->add_flag(
        "--verify", install.verify,
        "After each transfer, wait for the instrument to be switched off and on, ask it again, and say "
        "whether it reports the version sent");
    verify->excludes(dryRun);
    command
        ->add_option("--verify-timeout", install.verifyTimeoutSeconds,
                     "Seconds to wait for each power cycle (default 300)")
        ->check(CLI::Range(1, 86400))
        ->needs(verify);
    SetFooter(*command, "Ctrl+C before update mode stops at once. During the transfer the first Ctrl+C only warns:\n"
                        "stopping leaves the instrument in update mode; a second one stops before the next write.\n\n"
                        "With --all or several --serial, every instrument is updated at once, each on its own\n"
                        "connection; one that fails never stops the others. One question covers them all. A\n"
                        "summary table follows; the exit code is 0 only when every one was updated, otherwise\n"
                        "that of the first failure in the table (a --serial not attached counts as one, with 3).\n\n"
                        "With --verify, once an instrument's transfer has finished, switch that instrument off and\n"
                        "on: the command waits for it to leave and come back (each on its own line with several,\n"
                        "in any order), asks it for its versions, and says whether it reports the version the\n"
                        "file carries (a package: its entry 1). The history keeps each verdict. Installed but\n"
                        "not verified exits with 7. Ctrl+C while waiting stops the waiting; what was installed\n"
                        "keeps its result and exit code.\n\n"
                        "Examples:\n  meterload-cli install main.bin\n"
                        "  meterload-cli install fw.pak --serial ABC123 --dry-run\n"
                        "  meterload-cli install fw.pak --serial ABC123 --yes --json\n"
                        "  meterload-cli install fw.pak --all --yes\n"
                        "  meterload-cli install fw.pak --all --yes --verify --verify-timeout 120\n"
                        "  meterload-cli install fw.pak --serial ABC123 --serial DEF456");
    return {command, [options] { return RunInstall(options->common, options->install); }};
}

}  // namespace meterload::cli
