#include "cli/command_options.h"

#include "cli/commands.h"

namespace meterload::cli {

const char* const kExitCodesHelp =
    "Exit codes:\n"
    "  0    done\n"
    "  1    the update failed after the instrument entered update mode (power-cycle it and run again)\n"
    "  2    usage error\n"
    "  3    no instrument, the named serial number not found, or several attached and none named\n"
    "  4    the file was refused; the instrument was not switched into update mode\n"
    "  5    the instrument did not answer or was in the wrong mode, or the package reached another one\n"
    "  6    the VISA library is missing or lacks a function\n"
    "  7    installed, but not verified: after the power cycle the instrument did not report the\n"
    "       version sent, answered in the wrong mode, or did not come back in time (verify: it\n"
    "       does not report the file's version)\n"
    "  130  interrupted (Ctrl+C, or the confirmation declined)\n";

void AddCommonOptions(CLI::App& command, CommonOptions& common)
{
    command.add_flag("--json", common.json, "One JSON document on standard output");
    command.add_option("--visa-library", common.visaLibrary,
                       "The VISA library to load (default: METERLOAD_VISA_LIBRARY, else the system's, else the "
                       "common install locations, else the built-in USB transport)");
}

void AddInstrumentChoice(CLI::App& command, std::vector<std::string>& serials, bool& all, const std::string& serialHelp,
                         const std::string& allHelp)
{
    CLI::Option* serial = command.add_option("--serial", serials, serialHelp);
    serial->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command.add_flag("--all", all, allHelp)->excludes(serial);
}

void SetFooter(CLI::App& command, const std::string& text)
{
    command.footer(text + "\n\n" + kExitCodesHelp);
}

}  // namespace meterload::cli
