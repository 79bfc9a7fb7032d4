// A dialog for the benchmarks: answers the file dialog with one path and every
// box with OK, keeps the log text and counts what happened, but records no
// event list, so that its memory does not grow with the transfer.
#pragma once

#include "update/dialog_port.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace meterload::bench {

class BenchDialog final : public DialogPort {
public:
    explicit BenchDialog(std::string fileChoice = {}) : fileChoice_(std::move(fileChoice)) {}

    const std::string& LogText() const { return log_; }
    void AppendLogLine(const std::string& line) override { log_ += (log_.empty() ? "" : "\r\n") + line; }
    void ClearLog() override { log_.clear(); }
    void ScrollLogToEnd() override {}
    bool PumpMessages() override
    {
        ++pumps;
        return true;
    }
    void DrainMessages() override { ++drains; }
    void SetCaption(int, const std::string&) override {}
    void EnableControl(int, bool) override {}
    void HideControl(int) override {}
    void InvalidateAll() override {}
    BoxAnswer ShowMessageBox(BoxOwner, const std::string& text, const std::string&, BoxButtons, BoxIcon) override
    {
        boxes.push_back(text);
        return BoxAnswer::Ok;
    }
    std::optional<std::string> ChooseFileToOpen(const std::string&) override { return fileChoice_; }

    std::size_t pumps = 0;
    std::size_t drains = 0;
    std::vector<std::string> boxes;

private:
    std::string fileChoice_;
    std::string log_;
};

}  // namespace meterload::bench
