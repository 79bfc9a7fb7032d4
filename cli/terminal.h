// The terminal questions the command line asks of the operating system.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace meterload::cli {

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// Whether standard error is a terminal that takes the cursor movement of a
// board of progress lines (on Windows, a console that processes escape
// sequences once asked to); false otherwise, and plain lines are written.
bool StandardErrorTakesCursorMovement();
// The width of that terminal in characters (80 when it does not tell).
std::size_t TerminalColumns();

// One line typed on standard input, without its line end; nothing at the end
// of input or when Ctrl+C interrupted the wait.
std::optional<std::string> ReadAnswerLine();

}  // namespace meterload::cli
