#include "cli/terminal.h"

#include <cstdio>
#include <io.h>
#include <iostream>

namespace meterload::cli {

bool StandardInputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::optional<std::string> ReadAnswerLine()
{
    // Ctrl+C ends a console read with nothing read.
    std::string line;
    if (!std::getline(std::cin, line)) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace meterload::cli
