// What the driver keeps of one update beside what its procedures return: the
// dialog's calls pass through a tap that forwards each one unchanged and
// keeps the texts the user was shown, and the front end's observer is
// wrapped the same way. The history's record is made from the outcome.
#pragma once

#include "platform/clock.h"
#include "update/dialog_port.h"
#include "update/update_observer.h"
#include "update/update_outcome.h"

#include <chrono>
#include "update/update_record.h"

#include <optional>
#include <string>
#include <vector>

namespace meterload {

class DialogTap final : public DialogPort {
public:
    explicit DialogTap(DialogPort& inner) : inner_(inner) {}

    // Starts keeping afresh.
    void Restart();
    // The common ending of a transfer begins: what follows is not kept.
    void EndingBegins() { endingShown_ = true; }
    // The log lines appended and the box texts shown since Restart, in order,
    // up to the ending; blank lines left out.
    const std::vector<std::string>& Texts() const { return texts_; }
    bool EndingShown() const { return endingShown_; }

    void AppendLogLine(const std::string& line) override;
    void ClearLog() override { inner_.ClearLog(); }
    void ScrollLogToEnd() override { inner_.ScrollLogToEnd(); }
    bool PumpMessages() override { return inner_.PumpMessages(); }
    void DrainMessages() override { inner_.DrainMessages(); }
    void SetCaption(int control, const std::string& caption) override { inner_.SetCaption(control, caption); }
    void EnableControl(int control, bool enable) override { inner_.EnableControl(control, enable); }
    void HideControl(int control) override { inner_.HideControl(control); }
    void InvalidateAll() override { inner_.InvalidateAll(); }
    BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption, BoxButtons buttons,
                             BoxIcon icon) override;
    std::optional<std::string> ChooseFileToOpen(const std::string& filter) override
    {
        return inner_.ChooseFileToOpen(filter);
    }
    void MarkButtonAdvice(bool advice) override { inner_.MarkButtonAdvice(advice); }

private:
    void Keep(const std::string& text);

    DialogPort& inner_;
    std::vector<std::string> texts_;
    bool endingShown_ = false;
};

class ObserverTap final : public UpdateObserver {
public:
    void Watch(UpdateObserver& inner, Clock& clock)
    {
        inner_ = &inner;
        clock_ = &clock;
    }
    // Before each update.
    void Reset() { deciding = std::chrono::microseconds{0}; }

    std::chrono::microseconds deciding{0};  // spent in the front end's MayEnterUpdateMode

    bool MayEnterUpdateMode(std::string_view field) override;
    void EnteredUpdateMode() override { inner_->EnteredUpdateMode(); }
    bool MayWrite() override { return inner_->MayWrite(); }
    void Written(std::uint32_t count) override { inner_->Written(count); }
    void Finished(bool complete) override { inner_->Finished(complete); }
    std::string Refusal() const override { return inner_->Refusal(); }

private:
    UpdateObserver* inner_ = &NoObserver();
    Clock* clock_ = nullptr;
};

// The record's facts about the file: name, size, digest, kind, entry count.
void DescribeFile(UpdateRecord& record, const std::string& path, const std::string& fileName, bool package);

// The record's result, reason and reason key from the update's outcome; false
// when there is nothing to record (no update ran: the front end declined
// update mode without refusing the file, or the procedure stopped before any
// of it).
bool SetHistoryResult(UpdateRecord& record, const UpdateOutcome& outcome);

}  // namespace meterload
