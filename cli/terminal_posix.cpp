#include "cli/terminal.h"

#include <cerrno>
#include <unistd.h>

namespace meterload::cli {

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

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
