#include "cli/terminal.h"

#include "cli/interrupt.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace meterload::cli {

bool StandardInputIsTerminal()
{
    return isatty(STDIN_FILENO) == 1;
}
bool StandardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

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
    // A press that lands between the question and the read must end the
    // wait too, so the read only starts once input is there, and the wait
    // for it looks at the presses between short polls. The Ctrl+C handler
    // does not restart a wait it interrupts (no SA_RESTART).
    constexpr int kPollMs = 100;
    std::string line;
    for (;;) {
        if (StopRequested()) {
            return std::nullopt;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        char c = 0;
        const ssize_t n = ready < 0 ? -1 : read(STDIN_FILENO, &c, 1);
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
