#include "cli/console_port.h"

#include "cli/console.h"
#include "cli/interrupt.h"
#include "update/shown_lines.h"

namespace meterload::cli {

void ConsolePort::Say(const std::string& text)
{
    for (const std::string& line : ShownLines(text)) {
        lines_.push_back(line);
        if (quiet_ || advice_) {
            continue;
        }
        if (say_) {
            say_(Printable(line));
        } else {
            TheConsole().Line(Printable(line));
        }
    }
}

BoxAnswer ConsolePort::ShowMessageBox(BoxOwner, const std::string& text, const std::string&, BoxButtons, BoxIcon)
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
