// inspect: what a file holds and what the updates would make of it, with an
// instrument's versions when given or read from it.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/file_facts.h"
#include "cli/instruments.h"
#include "cli/report.h"
#include "update/exit_codes.h"

namespace meterload::cli {

int RunInspect(const CommonOptions& common, const std::string& file,
               const std::optional<std::string>& firmwareVersionField, const std::string& serial)
{
    Report report("inspect", common.json);
    const FileFacts facts = ReadFileFacts(file);
    report.Data()["file"] = FactsJson(facts);
    for (const std::string& line : FactsText(facts)) {
        report.Out(line);
    }
    if (const Problem problem = FileProblem(facts)) {
        return report.Fail(problem);
    }

    std::optional<std::string> field = firmwareVersionField;
    if (!serial.empty()) {
        const Selected chosen = SelectInstrument(common.visaLibrary, serial);
        if (chosen.problem) {
            return report.Fail(chosen.problem);
        }
        const Identification identification = Identify(chosen.library.library, serial);
        report.Data()["instrument"] = InstrumentJson(chosen.instrument);
        report.Data()["identification"] = IdentificationJson(identification);
        if (!identification.answered) {
            const Problem problem =
                identification.wrongMode ? WrongModeProblem() : Problem{kNoInstrument, NotFoundProblem().message, ""};
            return report.Fail(problem);
        }
        field = identification.firmwareVersionField;
    }
    if (!field) {
        return report.Finish(kDone);
    }

    const GateVerdict verdict = JudgeVersion(facts, *field, RefusalForm::Dialogs);
    report.Data()["gate"] = {{"firmware_version_field", *field},
                             {"accepted", verdict.accepted},
                             {"refusal", verdict.refusal}};
    report.Out("Gate:        " + std::string(verdict.accepted ? "accepted" : "refused") +
               " for the instrument's versions \"" + Printable(*field) + "\"");
    for (const std::string& line : verdict.refusal) {
        report.Out("  " + line);
    }
    if (!verdict.accepted) {
        return report.Fail(kFileRefused, OneLine(JudgeVersion(facts, *field, RefusalForm::Box).refusal),
                           "This file cannot be installed on an instrument with these versions.");
    }
    return report.Finish(kDone);
}

Registered RegisterInspect(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        std::string file;
        std::string field;
        std::string serial;
        CLI::Option* fieldOption = nullptr;
    };
    const auto options = std::make_shared<Options>();
    CLI::App* inspect = app.add_subcommand("inspect", "Explain a firmware image or package; no instrument needed");
    AddCommonOptions(*inspect, options->common);
    inspect->add_option("FILE", options->file, "The image (.bin) or package (.pak)")->required();
    options->fieldOption = inspect->add_option("--firmware-version", options->field,
                                               "Judge the file against these instrument versions (e.g. 02.05-11-07)");
    CLI::Option* serial =
        inspect->add_option("--serial", options->serial, "Judge the file against this instrument's versions");
    options->fieldOption->excludes(serial);
    SetFooter(*inspect, "Examples:\n  meterload-cli inspect fw.pak\n"
                        "  meterload-cli inspect main.bin --firmware-version 02.05-11-07\n"
                        "  meterload-cli inspect main.bin --serial ABC123 --json");
    return {inspect, [options] {
                const bool fieldGiven = options->fieldOption->count() > 0;
                return RunInspect(options->common, options->file,
                                  fieldGiven ? std::optional<std::string>(options->field) : std::nullopt,
                                  options->serial);
            }};
}

}  // namespace meterload::cli
