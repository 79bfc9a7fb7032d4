// verify: whether each chosen instrument now reports the version a file
// carries. It only asks; nothing on the instrument changes. Every verdict is
// kept in the history beside the install it checks.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/file_facts.h"
#include "cli/install_verification.h"
#include "cli/instruments.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "cli/table_text.h"
#include "update/exit_codes.h"
#include "update/update_history.h"

namespace meterload::cli {
namespace {

int CodeOf(const VerifyOutcome& outcome)
{
    return FactsOf(outcome.result).code;
}

// The instruments named, every one with --all, or else the only one attached.
struct ToVerify {
    std::vector<Chosen> chosen;
    Problem problem;
};

ToVerify ChooseToVerify(const InstrumentSearch& search, const VerifyOptions& options)
{
    const std::vector<std::string> serials = Distinct(options.serials);
    ToVerify result;
    if (options.all || !serials.empty()) {
        result.chosen = ChooseEach(search, serials);
    } else {
        result.chosen.push_back(ChooseInstrument(search, std::string()));
        result.problem = result.chosen.front().problem;
    }
    if (result.chosen.empty()) {
        result.problem = NotFoundProblem(Sought::Several);
    }
    return result;
}

VerifyOutcome VerifyOne(const Chosen& one, const FileFacts& facts, const std::string& visaLibrary,
                        const std::string& historyPath)
{
    if (one.problem) {
        VerifyOutcome outcome;
        outcome.result = VerifyResult::NotFound;
        outcome.detail = "was not found";
        return outcome;
    }
    const std::string label = Printable(one.instrument.serial);
    return VerifyNow(facts, visaLibrary, false, one.instrument.serial, historyPath,
                     [&label](const std::string& line) { TheConsole().Line(label + ": " + line); });
}

void ReportRow(Report& report, const std::string& serial, const VerifyOutcome& outcome)
{
    const std::string reports = outcome.firmwareVersionField ? VersionFieldText(*outcome.firmwareVersionField) : "-";
    report.Out(Cell(Printable(serial), 12) + Cell(reports, 14) + VerificationCell(outcome));
    nlohmann::json row = VerificationJson(outcome);
    row.erase("waited_ms");
    row["serial"] = serial;
    row["exit_code"] = CodeOf(outcome);
    report.Data()["instruments"].push_back(row);
}

}  // namespace

int RunVerify(const CommonOptions& common, const VerifyOptions& options)
{
    Report report("verify", common.json);
    report.Data()["instruments"] = nlohmann::json::array();
    const FileFacts facts = ReadFileFacts(options.file);
    report.Data()["file"] = FactsJson(facts);
    if (const Problem problem = FileProblem(facts)) {
        return report.Fail(problem);
    }

    const VisaLibraryChoice library = ChooseVisaLibrary(common.visaLibrary);
    const Attached attached = FindInstruments(library);
    if (attached.problem) {
        return report.Fail(attached.problem);
    }
    const ToVerify toVerify = ChooseToVerify(attached.search, options);
    if (toVerify.problem) {
        return report.Fail(toVerify.problem);
    }

    const std::string historyPath = HistoryPath();
    report.Out(Cell("SERIAL", 12) + Cell("REPORTS", 14) + "RESULT");
    int code = kDone;
    std::string firstFailure;
    for (const Chosen& one : toVerify.chosen) {
        if (StopRequested()) {
            return report.Fail(kInterrupted, "Interrupted.");
        }
        const VerifyOutcome outcome = VerifyOne(one, facts, library.library, historyPath);
        ReportRow(report, one.instrument.serial, outcome);
        if (code == kDone && CodeOf(outcome) != kDone) {
            code = CodeOf(outcome);
            firstFailure = Printable(one.instrument.serial) + ": the ZQ6140 " + outcome.detail + ".";
        }
    }
    if (code != kDone) {
        return report.Fail(code, "Not verified: " + firstFailure,
                           code == kNotVerified
                               ? "Switch it off and on if that was not done since the install; otherwise install "
                                 "the file again."
                               : NotFoundProblem().next);
    }
    return report.Finish(kDone);
}

Registered RegisterVerify(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        VerifyOptions verify;
    };
    const auto options = std::make_shared<Options>();
    VerifyOptions& verify = options->verify;
    CLI::App* command = app.add_subcommand(
        "verify", "Say whether instruments report the version a file carries, after its install and a power cycle");
    AddCommonOptions(*command, options->common);
    command->add_option("FILE", verify.file, "The image (.bin) or package (.pak) that was installed")->required();
    AddInstrumentChoice(*command, verify.serials, verify.all,
                        "The instrument's serial number (needed when several are attached); given more than once, "
                        "each of those instruments",
                        "Every attached ZQ6140");
    SetFooter(*command, "Each instrument is identified as an update begins, and nothing else is sent: its versions\n"
                        "are compared with the file's (a package: its entry 1): DSP images against positions 0-4\n"
                        "of the versions field, Panel images against 6-7, MSP 430 images against 9-10. Results:\n"
                        "verified; not verified (what it reports instead, or the wrong mode); not checked (the\n"
                        "image names no processor); not found. Each verdict is added to the history, where\n"
                        "\"history\" shows it beside the install. Run it once the instruments were switched off\n"
                        "and on after the install. The exit code is that of the first instrument, in the\n"
                        "table's order, that was not verified (7) or not found (3); not checked counts as 0.\n\n"
                        "Examples:\n  meterload-cli verify fw.pak\n"
                        "  meterload-cli verify main.bin --serial ABC123 --serial DEF456\n"
                        "  meterload-cli verify fw.pak --all --json");
    return {command, [options] { return RunVerify(options->common, options->verify); }};
}

}  // namespace meterload::cli
