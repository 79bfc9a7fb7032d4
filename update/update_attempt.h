// What the history needs to know of one update, watched from the outside of
// its procedures: the dialog's calls pass through a tap that forwards each
// one unchanged and keeps the texts the user was shown, and the front end's
// observer is wrapped the same way.
#pragma once

#include "update/dialog_port.h"
#include "update/update_observer.h"
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
    // The log lines gained and the box texts shown since Restart, in order.
    const std::vector<std::string>& Texts() const { return texts_; }
    bool SelectHidden() const { return selectHidden_; }

    std::string LogText() override { return inner_.LogText(); }
    void SetLogText(const std::string& text) override;
    void ScrollLogToEnd() override { inner_.ScrollLogToEnd(); }
    bool PumpMessages() override { return inner_.PumpMessages(); }
    void DrainMessages() override { inner_.DrainMessages(); }
    void SetCaption(int control, const std::string& caption) override { inner_.SetCaption(control, caption); }
    void EnableControl(int control, bool enable) override { inner_.EnableControl(control, enable); }
    void HideControl(int control) override;
    void InvalidateAll() override { inner_.InvalidateAll(); }
    BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption,
                             BoxButtons buttons, BoxIcon icon) override;
    std::optional<std::string> ChooseFileToOpen(const std::string& filter) override
    {
        return inner_.ChooseFileToOpen(filter);
    }

private:
    void Keep(const std::string& text);

    DialogPort& inner_;
    std::string shown_;
    std::vector<std::string> texts_;
    bool selectHidden_ = false;
};

class ObserverTap final : public UpdateObserver {
public:
    void Watch(UpdateObserver& inner) { inner_ = &inner; }
    // Before each update.
    void Reset();

    bool declined = false;  // the front end said no to update mode
    bool entered = false;
    bool stopped = false;   // the front end stopped the transfer

    bool MayEnterUpdateMode(std::string_view field) override;
    void EnteredUpdateMode() override;
    bool MayWrite() override;
    void Written(std::uint32_t count) override { inner_->Written(count); }
    void Finished(bool complete) override { inner_->Finished(complete); }
    std::string Refusal() const override { return inner_->Refusal(); }

private:
    UpdateObserver* inner_ = &NoObserver();
};

// The record's facts about the file: name, size, digest, kind, entry count.
void DescribeFile(UpdateRecord& record, const std::string& path, const std::string& fileName, bool package);

// The record's result and reason from what was watched; nothing when the
// front end declined update mode without refusing the file (no update ran).
// `outcome`: whether the common ending was reached, and complete or not.
bool Conclude(UpdateRecord& record, const ObserverTap& watched, const DialogTap& shown,
              const std::vector<std::string>& textsBeforeEnding, std::optional<bool> outcome);

}  // namespace meterload
