// meterload-cli: the command line over the same procedures as the dialog.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "platform/library_search.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace {

using namespace meterload::cli;

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    done\n"
    "  1    the update failed after the instrument entered update mode (power-cycle it and run again)\n"
    "  2    usage error\n"
    "  3    no instrument, the named serial number not found, or several attached and none named\n"
    "  4    the file was refused; the instrument was not switched into update mode\n"
    "  5    the instrument did not answer or was in the wrong mode, or the package reached another one\n"
    "  6    the VISA library is missing or lacks a function\n"
    "  130  interrupted (Ctrl+C, or the confirmation declined)\n";

constexpr const char* kLibraryHelp =
    "The VISA library to load (default: METERLOAD_VISA_LIBRARY, else the system's, else the common "
    "install locations, else the built-in USB transport)";

void AddCommon(CLI::App& command, CommonOptions& common)
{
    command.add_flag("--json", common.json, "One JSON document on standard output");
    command.add_option("--visa-library", common.visaLibrary, kLibraryHelp);
}

}  // namespace

int main(int argc, char** argv)
{
    meterload::RestrictLibrarySearch();
    UseUtf8CommandLine(argc, argv);
    InstallInterruptHandler();

    CLI::App app{"Writes firmware into ZQ6140 multimeters over USB through a VISA library."};
    app.name("meterload-cli");
    app.set_version_flag("--version", std::string("meterload-cli ") + METERLOAD_VERSION);
    app.require_subcommand(1);
    app.footer(std::string("Run \"meterload-cli COMMAND --help\" for a command's options and examples.\n\n") +
               kExitCodes);

    CommonOptions common;

    bool identify = false;
    CLI::App* list = app.add_subcommand("list", "List every attached ZQ6140");
    AddCommon(*list, common);
    list->add_flag("--identify", identify, "Also ask each one for its firmware versions");
    list->footer(std::string("Examples:\n  meterload-cli list\n  meterload-cli list --identify --json\n\n") +
                 kExitCodes);

    std::string serial;
    CLI::App* identifyCommand = app.add_subcommand("identify", "Show one instrument's serial number and versions");
    AddCommon(*identifyCommand, common);
    identifyCommand->add_option("--serial", serial, "The instrument's serial number (needed when several are attached)");
    identifyCommand->footer(
        std::string("Examples:\n  meterload-cli identify\n  meterload-cli identify --serial ABC123 --json\n\n") +
        kExitCodes);

    std::string file;
    std::string field;
    CLI::App* inspect = app.add_subcommand("inspect", "Explain a firmware image or package; no instrument needed");
    AddCommon(*inspect, common);
    inspect->add_option("FILE", file, "The image (.bin) or package (.pak)")->required();
    CLI::Option* fieldOption = inspect->add_option(
        "--firmware-version", field, "Judge the file against these instrument versions (e.g. 02.05-11-07)");
    CLI::Option* inspectSerial =
        inspect->add_option("--serial", serial, "Judge the file against this instrument's versions");
    fieldOption->excludes(inspectSerial);
    inspect->footer(std::string("Examples:\n  meterload-cli inspect fw.pak\n"
                                "  meterload-cli inspect main.bin --firmware-version 02.05-11-07\n"
                                "  meterload-cli inspect main.bin --serial ABC123 --json\n\n") +
                    kExitCodes);

    InstallOptions install;
    CLI::App* installCommand =
        app.add_subcommand("install", "Install an image or a package on one instrument, or on several at once");
    AddCommon(*installCommand, common);
    installCommand->add_option("FILE", install.file, "The image (.bin) or package (.pak)")->required();
    CLI::Option* installSerials = installCommand->add_option(
        "--serial", install.serials,
        "The instrument's serial number (needed when several are attached); given more than once, each of "
        "those instruments at once");
    // One value per --serial, so that FILE may follow it.
    installSerials->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    installCommand->add_flag("--all", install.all, "Every attached ZQ6140 at once")->excludes(installSerials);
    installCommand->add_flag("--dry-run", install.dryRun,
                             "Run every check on the instrument and the file, then stop before update mode");
    installCommand->add_flag("--yes", install.yes, "Do not ask for confirmation (required when input is not a terminal)");
    installCommand->footer(
        std::string("Ctrl+C before update mode stops at once. During the transfer the first Ctrl+C only warns:\n"
                    "stopping leaves the instrument in update mode; a second one stops before the next write.\n\n"
                    "With --all or several --serial, every instrument is updated at once, each on its own\n"
                    "connection; one that fails never stops the others. One question covers them all. A\n"
                    "summary table follows; the exit code is 0 only when every one was updated, otherwise\n"
                    "that of the first failure in the table (a --serial not attached counts as one, with 3).\n\n"
                    "Examples:\n  meterload-cli install main.bin\n"
                    "  meterload-cli install fw.pak --serial ABC123 --dry-run\n"
                    "  meterload-cli install fw.pak --serial ABC123 --yes --json\n"
                    "  meterload-cli install fw.pak --all --yes\n"
                    "  meterload-cli install fw.pak --serial ABC123 --serial DEF456\n\n") +
        kExitCodes);

    std::string out;
    std::vector<std::string> entries;
    bool force = false;
    CLI::App* pack = app.add_subcommand("pack", "Write a package from images");
    AddCommon(*pack, common);
    pack->add_option("OUT", out, "The package to write (.pak)")->required();
    pack->add_option("ENTRY", entries, "Entry 1 (a ZQ6140 image), then the others in the order they are sent")
        ->required();
    pack->add_flag("--force", force, "Replace OUT if it exists");
    pack->footer(std::string("Entry 1 is installed last; the others go first, in the order given.\n\n"
                             "Examples:\n  meterload-cli pack fw.pak main.bin panel.bin msp.bin\n\n") +
                 kExitCodes);

    std::string historySerial;
    std::string since;
    CLI::App* historyCommand = app.add_subcommand("history", "Show the recorded updates, newest first");
    AddCommon(*historyCommand, common);
    historyCommand->add_option("--serial", historySerial, "Only this instrument's updates");
    historyCommand->add_option("--since", since, "Only updates from this date on (YYYY-MM-DD, UTC)");
    historyCommand->footer(
        std::string("Every update, from the dialog or the command line, appends one record to\n"
                    "history.jsonl in the user's state folder ($XDG_STATE_HOME/meterload, by default\n"
                    "~/.local/state/meterload; %LOCALAPPDATA%\\MeterLoad on Windows), or to the file\n"
                    "METERLOAD_HISTORY names.\n\n"
                    "Examples:\n  meterload-cli history\n  meterload-cli history --serial ABC123 --since 2026-01-01 --json\n\n") +
        kExitCodes);

    CLI::App* info = app.add_subcommand("info", "Show the VISA library and the instruments found, for bug reports");
    AddCommon(*info, common);
    info->footer(std::string("Examples:\n  meterload-cli info\n  meterload-cli info --json\n\n") + kExitCodes);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kDone : kUsage;
    }

    if (list->parsed()) {
        return RunList(common, identify);
    }
    if (identifyCommand->parsed()) {
        return RunIdentify(common, serial);
    }
    if (inspect->parsed()) {
        return RunInspect(common, file, fieldOption->count() > 0 ? std::optional<std::string>(field) : std::nullopt,
                          serial);
    }
    if (installCommand->parsed()) {
        return RunInstall(common, install);
    }
    if (historyCommand->parsed()) {
        return RunHistory(common, historySerial, since);
    }
    if (pack->parsed()) {
        return RunPack(common, out, entries, force);
    }
    return RunInfo(common);
}
