// history: the user's update records, newest first, each install with its
// verification, as a table or JSON.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/report.h"
#include "cli/table_text.h"
#include "update/exit_codes.h"
#include "update/update_history.h"

#include <cctype>

namespace meterload::cli {
namespace {

// YYYY-MM-DD, optionally followed by a time: records compare as text.
bool IsDate(const std::string& text)
{
    static const char* const kShape = "dddd-dd-dd";
    if (text.size() < 10 || (text.size() > 10 && text[10] != 'T')) {
        return false;
    }
    for (std::size_t i = 0; i < 10; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kShape[i] == 'd' ? !digit : text[i] != '-') {
            return false;
        }
    }
    return true;
}

bool Matches(const UpdateRecord& record, const std::string& serial, const std::string& since)
{
    return (serial.empty() || record.serial == serial) && (since.empty() || record.time >= since);
}

nlohmann::json EntryJson(const HistoryEntry& entry)
{
    nlohmann::json object = nlohmann::json::parse(RecordLine(entry.record));
    if (entry.verification) {
        object["verification"] = nlohmann::json::parse(RecordLine(*entry.verification));
    }
    return object;
}

std::string HeaderRow()
{
    return Cell("TIME (UTC)", 25) + Cell("SERIAL", 12) + Cell("BEFORE", 14) + Cell("RESULT", 9) + Cell("VERIFIED", 13) +
           Cell("DURATION", 10) + "FILE";
}

std::string FileCell(const UpdateRecord& record)
{
    const std::string kind = record.package ? "package of " + std::to_string(record.entryCount) + " entries" : "image";
    return Printable(record.file) + " (" + kind + ", " + std::to_string(record.size) + " bytes, sha256 " +
           record.sha256.substr(0, 16) + ")";
}

std::string ReasonTail(const UpdateRecord& record)
{
    return record.reason.empty() ? std::string() : "; " + Printable(record.reason);
}

// A verification whose update is not in the history (another PC's, or older
// than the file): a row of its own.
void PrintLoneVerification(Report& report, const UpdateRecord& record)
{
    report.Out(Cell(record.time, 25) + Cell(Printable(record.serial), 12) + Cell("-", 14) + Cell("verify", 9) +
               Cell(record.result, 13) + Cell("-", 10) + FileCell(record));
    report.Out("    reported " + VersionFieldText(record.firmwareVersionField) + ReasonTail(record));
}

void PrintUpdate(Report& report, const HistoryEntry& entry)
{
    const UpdateRecord& record = entry.record;
    report.Out(Cell(record.time, 25) + Cell(Printable(record.serial), 12) +
               Cell(VersionFieldText(record.firmwareVersionField), 14) + Cell(record.result, 9) +
               Cell(entry.verification ? entry.verification->result : "-", 13) + Cell(Seconds(record.durationMs), 10) +
               FileCell(record));
    if (!record.reason.empty()) {
        report.Out("    " + Printable(record.reason));
    }
    if (entry.verification) {
        const UpdateRecord& verification = *entry.verification;
        const std::string reported = verification.firmwareVersionField.empty()
                                         ? std::string("nothing")
                                         : VersionFieldText(verification.firmwareVersionField);
        report.Out("    " + verification.result + " " + verification.time + ": reported " + reported +
                   ReasonTail(verification));
    }
}

}  // namespace

int RunHistory(const CommonOptions& common, const std::string& serial, const std::string& since)
{
    Report report("history", common.json);
    if (!since.empty() && !IsDate(since)) {
        return report.Fail(kUsage, "--since takes a date as YYYY-MM-DD (or YYYY-MM-DDThh:mm:ss, UTC): " + since);
    }
    const std::string path = HistoryPath();
    report.Data()["path"] = path;
    const History history = ReadHistory(path);
    for (const std::string& warning : history.warnings) {
        report.Message("Warning: " + warning);
    }
    report.Data()["warnings"] = history.warnings;

    nlohmann::json records = nlohmann::json::array();
    for (const HistoryEntry& entry : PairVerifications(history.records)) {
        if (!Matches(entry.record, serial, since)) {
            continue;
        }
        if (records.empty()) {
            report.Out(HeaderRow());
        }
        records.push_back(EntryJson(entry));
        if (entry.record.verification) {
            PrintLoneVerification(report, entry.record);
        } else {
            PrintUpdate(report, entry);
        }
    }
    report.Data()["records"] = records;
    if (!history.found) {
        report.Message("No update has been recorded yet" + (path.empty() ? std::string(".") : " in " + path + "."));
    } else if (records.empty()) {
        report.Message("No record matches.");
    }
    return report.Finish(kDone);
}

Registered RegisterHistory(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        std::string serial;
        std::string since;
    };
    const auto options = std::make_shared<Options>();
    CLI::App* history = app.add_subcommand("history", "Show the recorded updates, newest first");
    AddCommonOptions(*history, options->common);
    history->add_option("--serial", options->serial, "Only this instrument's updates");
    history->add_option("--since", options->since, "Only updates from this date on (YYYY-MM-DD, UTC)");
    SetFooter(*history, "Every update, from the dialog or the command line, appends one record to\n"
                        "history.jsonl in the user's state folder ($XDG_STATE_HOME/meterload, by default\n"
                        "~/.local/state/meterload; %LOCALAPPDATA%\\MeterLoad on Windows), or to the file\n"
                        "METERLOAD_HISTORY names. A verification (verify, install --verify) appends a record of\n"
                        "its own; history shows it beside the install it checked, in the VERIFIED column.\n\n"
                        "Examples:\n  meterload-cli history\n"
                        "  meterload-cli history --serial ABC123 --since 2026-01-01 --json");
    return {history, [options] { return RunHistory(options->common, options->serial, options->since); }};
}

}  // namespace meterload::cli
