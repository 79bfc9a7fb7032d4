// list, identify and info: what is attached, what it reports, and which VISA
// library answered.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/instruments.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "update/exit_codes.h"

namespace meterload::cli {

int RunList(const CommonOptions& common, bool identify)
{
    Report report("list", common.json);
    const VisaLibraryChoice library = ChooseVisaLibrary(common.visaLibrary);
    const Attached attached = FindInstruments(library);
    report.Data()["instruments"] = nlohmann::json::array();
    if (attached.problem) {
        return report.Fail(attached.problem);
    }
    for (const FoundInstrument& found : attached.search.instruments) {
        if (StopRequested()) {
            return report.Fail(kInterrupted, "Interrupted.");
        }
        nlohmann::json row = InstrumentJson(found);
        std::string text = found.serial + "  " + found.resource;
        if (identify) {
            const Identification identification = Identify(library.library, found.serial);
            row["identification"] = IdentificationJson(identification);
            text += "  " + IdentificationText(identification);
        }
        report.Data()["instruments"].push_back(row);
        report.Out(text);
    }
    if (attached.search.instruments.empty()) {
        return report.Fail(NotFoundProblem());
    }
    return report.Finish(kDone);
}

int RunIdentify(const CommonOptions& common, const std::string& serial)
{
    Report report("identify", common.json);
    const Selected chosen = SelectInstrument(common.visaLibrary, serial);
    if (chosen.problem) {
        return report.Fail(chosen.problem);
    }
    report.Data()["instrument"] = InstrumentJson(chosen.instrument);
    const Identification identification = Identify(chosen.library.library, chosen.instrument.serial);
    report.Data()["identification"] = IdentificationJson(identification);
    if (StopRequested()) {
        return report.Fail(kInterrupted, "Interrupted.");
    }
    if (!identification.answered) {
        if (!identification.wrongMode) {
            return report.Fail(NotFoundProblem());
        }
        report.Out("Serial number:     " + chosen.instrument.serial);
        report.Out("Mode:              wrong mode");
        return report.Fail(WrongModeProblem());
    }
    report.Out("Serial number:     " + chosen.instrument.serial);
    report.Out("Resource:          " + chosen.instrument.resource);
    report.Out("Firmware versions: " + VersionFieldText(identification.firmwareVersionField));
    report.Out("DSP:               " + identification.versions.dsp);
    report.Out("Panel:             " + identification.versions.panel);
    report.Out("MSP 430:           " + identification.versions.msp430);
    report.Out("Mode:              normal");
    return report.Finish(kDone);
}

int RunInfo(const CommonOptions& common)
{
    Report report("info", common.json);
    const VisaLibraryChoice library = ChooseVisaLibrary(common.visaLibrary);
    const Attached attached = FindInstruments(library);
    const InstrumentSearch& search = attached.search;

    nlohmann::json& visa = report.Data()["visa_library"];
    visa["chosen_by"] = library.source;
    visa["name"] = library.library;
    visa["tried"] = library.tried;
    visa["path"] = search.libraryPath.empty() ? nlohmann::json() : nlohmann::json(search.libraryPath);
    visa["implementation"] = search.implementation.empty() ? nlohmann::json() : nlohmann::json(search.implementation);
    report.Data()["resource_manager_opened"] = search.resourceManagerOpened;
    report.Data()["instruments"] = nlohmann::json::array();
    for (const FoundInstrument& found : search.instruments) {
        report.Data()["instruments"].push_back(InstrumentJson(found));
    }

    report.Out(std::string("meterload-cli ") + METERLOAD_VERSION);
    report.Out("VISA library:      " + library.library +
               (library.builtInTransport ? " (" + library.source + ")" : " (chosen by " + library.source + ")"));
    report.Out("Loaded from:       " + (search.libraryPath.empty() ? "(not loaded)" : search.libraryPath));
    if (!search.implementation.empty()) {
        report.Out("Implementation:    " + search.implementation);
    }
    report.Out(std::string("Resource manager:  ") + (search.resourceManagerOpened ? "opened" : "not opened"));
    report.Out("Instruments found: " + std::to_string(search.instruments.size()));
    for (const FoundInstrument& found : search.instruments) {
        report.Out("  " + found.serial + "  " + found.resource);
    }
    if (attached.problem) {
        return report.Fail(attached.problem);
    }
    return report.Finish(kDone);
}

Registered RegisterList(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        bool identify = false;
    };
    const auto options = std::make_shared<Options>();
    CLI::App* list = app.add_subcommand("list", "List every attached ZQ6140");
    AddCommonOptions(*list, options->common);
    list->add_flag("--identify", options->identify, "Also ask each one for its firmware versions");
    SetFooter(*list, "Examples:\n  meterload-cli list\n  meterload-cli list --identify --json");
    return {list, [options] { return RunList(options->common, options->identify); }};
}

Registered RegisterIdentify(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        std::string serial;
    };
    const auto options = std::make_shared<Options>();
    CLI::App* identify = app.add_subcommand("identify", "Show one instrument's serial number and versions");
    AddCommonOptions(*identify, options->common);
    identify->add_option("--serial", options->serial,
                         "The instrument's serial number (needed when several are attached)");
    SetFooter(*identify, "Examples:\n  meterload-cli identify\n  meterload-cli identify --serial ABC123 --json");
    return {identify, [options] { return RunIdentify(options->common, options->serial); }};
}

Registered RegisterInfo(CLI::App& app)
{
    const auto common = std::make_shared<CommonOptions>();
    CLI::App* info = app.add_subcommand("info", "Show the VISA library and the instruments found, for bug reports");
    AddCommonOptions(*info, *common);
    SetFooter(*info, "Examples:\n  meterload-cli info\n  meterload-cli info --json");
    return {info, [common] { return RunInfo(*common); }};
}

}  // namespace meterload::cli
