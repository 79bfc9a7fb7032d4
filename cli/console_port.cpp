#include "cli/console_port.h"

#include "cli/console.h"
#include "cli/interrupt.h"

namespace meterload::cli {

void ConsolePort::SetLogText(const std::string& text)
{
    // Appending shows up as the old text plus a line break and the new line;
    // anything else (clearing, replacing) says only what it brings.
    std::string added = text;
    if (!log_.empty() && text.size() > log_.size() && text.compare(0, log_.size(), log_) == 0) {
        added = text.substr(log_.size());
    }
    log_ = text;
    Say(added);
}

void ConsolePort::Say(const std::string& text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        if (line.find_first_not_of(' ') != std::string::npos) {
            lines_.push_back(line);
            if (!quiet_ && !advice_) {
                if (say_) {
                    say_(Printable(line));
                } else {
                    TheConsole().Line(Printable(line));
                }
            }
        }
        start = end + 1;
    }
}

BoxAnswer ConsolePort::ShowMessageBox(BoxOwner, const std::string& text, const std::string&,
                                      BoxButtons, BoxIcon)
{
    boxes_.push_back(text);
    Say(text);
    return BoxAnswer::Ok;
}

std::optional<std::string> ConsolePort::ChooseFileToOpen(const std::string&)
{
    // A Ctrl+C while identifying counts as the dialog's cancel.
    if (StopRequested() || file_.empty()) {
        return std::nullopt;
    }
    return file_;
}

}  // namespace meterload::cli
