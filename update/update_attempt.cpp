#include "update/update_attempt.h"

#include "firmware/update_package.h"
#include "platform/file.h"
#include "platform/sha256.h"

namespace meterload {

namespace {

std::string Joined(const std::vector<std::string>& texts)
{
    std::string whole;
    for (const std::string& text : texts) {
        whole += (whole.empty() ? "" : " ") + text;
    }
    return whole;
}

}  // namespace

void DialogTap::Restart()
{
    texts_.clear();
    shown_ = inner_.LogText();
}

void DialogTap::SetLogText(const std::string& text)
{
    // An append keeps the old text as its start; anything else replaces it.
    if (!shown_.empty() && text.compare(0, shown_.size(), shown_) == 0) {
        Keep(text.substr(shown_.size()));
    } else {
        Keep(text);
    }
    shown_ = text;
    inner_.SetLogText(text);
}

void DialogTap::Keep(const std::string& text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            texts_.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
}

BoxAnswer DialogTap::ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                                    BoxButtons buttons, BoxIcon icon)
{
    Keep(text);
    return inner_.ShowMessageBox(owner, text, caption, buttons, icon);
}

void ObserverTap::Reset()
{
    declined = entered = stopped = false;
    deciding = std::chrono::microseconds{0};
}

bool ObserverTap::MayEnterUpdateMode(std::string_view field)
{
    const auto start = clock_ != nullptr ? clock_->Now() : std::chrono::microseconds{0};
    declined = !inner_->MayEnterUpdateMode(field);
    if (clock_ != nullptr) {
        deciding += clock_->Now() - start;
    }
    return !declined;
}

void ObserverTap::EnteredUpdateMode()
{
    entered = true;
    inner_->EnteredUpdateMode();
}

bool ObserverTap::MayWrite()
{
    stopped = stopped || !inner_->MayWrite();
    return !stopped;
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

bool Conclude(UpdateRecord& record, const UpdateOutcome& outcome)
{
    if (outcome.reason == StopReason::Declined) {
        record.result = "refused";
        record.reason = outcome.refusal;
        return !record.reason.empty();
    }
    if (outcome.Complete()) {
        record.result = "done";
        return true;
    }
    // Stopped before update mode without the common ending: no update ran.
    if (!outcome.endingShown && !outcome.updateModeEntered) {
        return false;
    }
    const bool failed = outcome.updateModeEntered && !IsFileRefusal(outcome.reason);
    record.result = failed ? "failed" : "refused";
    record.reason = Joined(outcome.texts);
    if (record.reason.empty()) {
        record.reason =
            outcome.reason == StopReason::Stopped ? "stopped before the transfer ended" : "no reason given";
    }
    return true;
}

}  // namespace meterload
