#include "update/update_attempt.h"

#include "firmware/update_package.h"
#include "platform/file.h"
#include "platform/joined_text.h"
#include "platform/sha256.h"
#include "update/shown_lines.h"
#include "update/stop_reasons.h"

namespace meterload {

void DialogTap::Restart()
{
    texts_.clear();
    endingShown_ = false;
}

void DialogTap::AppendLogLine(const std::string& line)
{
    Keep(line);
    inner_.AppendLogLine(line);
}

void DialogTap::Keep(const std::string& text)
{
    if (endingShown_) {
        return;
    }
    for (std::string& line : ShownLines(text)) {
        texts_.push_back(std::move(line));
    }
}

BoxAnswer DialogTap::ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                                    BoxButtons buttons, BoxIcon icon)
{
    Keep(text);
    return inner_.ShowMessageBox(owner, text, caption, buttons, icon);
}

bool ObserverTap::MayEnterUpdateMode(std::string_view field)
{
    const auto start = clock_ != nullptr ? clock_->Now() : std::chrono::microseconds{0};
    const bool may = inner_->MayEnterUpdateMode(field);
    if (clock_ != nullptr) {
        deciding += clock_->Now() - start;
    }
    return may;
}

void DescribeFile(UpdateRecord& record, const std::string& path, const std::string& fileName, bool package)
{
    record.path = path;
    record.file = fileName;
    record.package = package;
    if (const auto file = File::Open(path)) {
        record.size = file->Size();
    }
    record.sha256 = FileSha256(path).value_or(std::string());
    if (package) {
        if (const auto header = ReadPackageHeader(path)) {
            record.entryCount = header->EntryCount();
        }
    }
}

bool SetHistoryResult(UpdateRecord& record, const UpdateOutcome& outcome)
{
    record.result = HistoryResultText(VerdictOf(outcome).history);
    record.reasonKey = FactsOf(outcome.reason).key;
    if (!outcome.refusal.empty()) {
        record.reason = outcome.refusal;
        return true;
    }
    // The user said no to update mode: no update ran.
    if (outcome.reason == StopReason::Declined) {
        return false;
    }
    if (outcome.Complete()) {
        return true;
    }
    // Stopped before update mode without the common ending: no update ran.
    if (!outcome.endingShown && !outcome.updateModeEntered) {
        return false;
    }
    record.reason = Joined(outcome.texts, std::string(" "));
    if (record.reason.empty()) {
        record.reason = outcome.reason == StopReason::Stopped ? "stopped before the transfer ended" : "no reason given";
    }
    return true;
}

}  // namespace meterload
