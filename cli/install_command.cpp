// install: the dialog's single-image or package update on the chosen
// instrument, with the file checked first, a say before update mode, progress
// and Ctrl+C; on several instruments at once with --all or --serial given
// more than once.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/file_facts.h"
#include "cli/fleet_install.h"
#include "cli/install_run.h"
#include "cli/instruments.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/terminal.h"
#include "update/update_history.h"

#include <algorithm>

namespace meterload::cli {

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
    const InstallSettings settings{facts, options.dryRun, options.yes, std::string(), HistoryPath()};
    std::vector<std::string> serials;
    for (const std::string& serial : options.serials) {
        if (std::find(serials.begin(), serials.end(), serial) == serials.end()) {
            serials.push_back(serial);
        }
    }
    if (options.all || serials.size() > 1) {
        return InstallOnSeveral(report, common.visaLibrary, serials, settings);
    }

    const Selected chosen =
        SelectInstrument(common.visaLibrary, serials.empty() ? std::string() : serials.front());
    if (chosen.problem) {
        return report.Fail(chosen.problem.code, chosen.problem.message, chosen.problem.next);
    }
    report.Data()["instrument"] = InstrumentJson(chosen.instrument);
    report.Data()["duration_ms"] = UpdateModeDuration(facts).count();

    InstallSettings one = settings;
    one.visaLibrary = chosen.library.library;
    const auto say = [](const std::string& line) { TheConsole().Line(line); };
    const InstallHooks hooks{say,
                             [&say, &facts](const std::string& instrumentLine) {
                                 say(instrumentLine);
                                 for (const std::string& line : FileLines(facts)) {
                                     say(line);
                                 }
                             },
                             [] { return AskYes("Switch the ZQ6140 into update mode and install? [y/N] "); }};
    Progress progress(TheConsole(), StandardErrorIsTerminal(), SentSizes(facts));
    const InstallOutcome outcome = InstallOn(chosen.instrument, one, hooks, progress);

    if (outcome.firmwareVersionField) {
        report.Data()["firmware_version_field"] = *outcome.firmwareVersionField;
    }
    report.Data()["update_mode_entered"] = outcome.updateModeEntered;
    report.Data()["log"] = outcome.log;
    report.Data()["boxes"] = outcome.boxes;
    report.Data()["result"] = outcome.result;
    if (outcome.code != kDone) {
        return report.Fail(outcome.code, outcome.message, outcome.next);
    }
    if (!outcome.message.empty()) {
        TheConsole().Line(outcome.message);
    }
    return report.Finish(kDone);
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
    CLI::Option* serials = command->add_option(
        "--serial", install.serials,
        "The instrument's serial number (needed when several are attached); given more than once, each of "
        "those instruments at once");
    // One value per --serial, so that FILE may follow it.
    serials->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_flag("--all", install.all, "Every attached ZQ6140 at once")->excludes(serials);
    command->add_flag("--dry-run", install.dryRun,
                      "Run every check on the instrument and the file, then stop before update mode");
    command->add_flag("--yes", install.yes, "Do not ask for confirmation (required when input is not a terminal)");
    SetFooter(*command,
              "Ctrl+C before update mode stops at once. During the transfer the first Ctrl+C only warns:\n"
              "stopping leaves the instrument in update mode; a second one stops before the next write.\n\n"
              "With --all or several --serial, every instrument is updated at once, each on its own\n"
              "connection; one that fails never stops the others. One question covers them all. A\n"
              "summary table follows; the exit code is 0 only when every one was updated, otherwise\n"
              "that of the first failure in the table (a --serial not attached counts as one, with 3).\n\n"
              "Examples:\n  meterload-cli install main.bin\n"
              "  meterload-cli install fw.pak --serial ABC123 --dry-run\n"
              "  meterload-cli install fw.pak --serial ABC123 --yes --json\n"
              "  meterload-cli install fw.pak --all --yes\n"
              "  meterload-cli install fw.pak --serial ABC123 --serial DEF456");
    return {command, [options] { return RunInstall(options->common, options->install); }};
}

}  // namespace meterload::cli
