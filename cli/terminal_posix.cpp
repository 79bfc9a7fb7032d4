#include "cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace meterload::cli {

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StandardErrorTakesCursorMovement()
{
    const char* term = std::getenv("TERM");
    return StandardErrorIsTerminal() && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

std::size_t TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::optional<std::string> ReadAnswerLine()
{
    // read() rather than a stream: the Ctrl+C handler does not restart it,
    // so the wait ends at once.
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n <= 0) {
            return std::nullopt;
        }
        if (c == '\n') {
            return line;
        }
        if (c != '\r' && line.size() < 256) {
            line += c;
        }
    }
}

}  // namespace meterload::cli
