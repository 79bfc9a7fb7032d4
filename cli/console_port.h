// The dialog's side of the update procedures, for the command line: log
// lines and message boxes go to standard error as they come (and are kept),
// the file is the one named on the command line, and there is no window to
// keep alive.
#pragma once

#include "update/dialog_port.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meterload::cli {

class ConsolePort final : public DialogPort {
public:
    explicit ConsolePort(std::string file = std::string()) : file_(std::move(file)) {}
    // Each line said goes to `say` instead of straight to the console.
    ConsolePort(std::string file, std::function<void(const std::string&)> say)
        : file_(std::move(file)), say_(std::move(say))
    {
    }

    // Quiet: keeps what is said without printing it.
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    // Every line ever appended, blank ones left out, and every box text.
    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<std::string>& Boxes() const { return boxes_; }

    // DialogPort
    void AppendLogLine(const std::string& line) override { Say(line); }
    void ClearLog() override {}
    void ScrollLogToEnd() override {}
    bool PumpMessages() override { return true; }
    void DrainMessages() override {}
    void SetCaption(int, const std::string&) override {}
    void EnableControl(int, bool) override {}
    void HideControl(int) override {}
    void InvalidateAll() override {}
    BoxAnswer ShowMessageBox(BoxOwner owner, const std::string& text, const std::string& caption, BoxButtons buttons,
                             BoxIcon icon) override;
    std::optional<std::string> ChooseFileToOpen(const std::string& filter) override;
    // The dialog's words about its own buttons are kept, never printed.
    void MarkButtonAdvice(bool advice) override { advice_ = advice; }

private:
    void Say(const std::string& text);

    std::string file_;
    std::function<void(const std::string&)> say_;
    bool quiet_ = false;
    bool advice_ = false;
    std::vector<std::string> lines_;
    std::vector<std::string> boxes_;
};

}  // namespace meterload::cli
