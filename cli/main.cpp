// meterload-cli: the command line over the same procedures as the dialog.
#include "cli/arguments.h"
#include "cli/command_options.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "platform/library_search.h"
#include "update/exit_codes.h"

using namespace meterload;
using namespace meterload::cli;

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
               kExitCodesHelp);

    // In the order the help lists them.
    const Registered commands[] = {RegisterList(app),    RegisterIdentify(app), RegisterInspect(app),
                                   RegisterInstall(app), RegisterVerify(app),   RegisterPack(app),
                                   RegisterHistory(app), RegisterInfo(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kDone : kUsage;
    }
    for (const Registered& command : commands) {
        if (command.app->parsed()) {
            return command.run();
        }
    }
    return kUsage;
}
