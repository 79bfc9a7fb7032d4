// The terminal questions the command line asks of the operating system.
#pragma once

#include <optional>
#include <string>

namespace meterload::cli {

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// One line typed on standard input, without its line end; nothing at the end
// of input or when Ctrl+C interrupted the wait.
std::optional<std::string> ReadAnswerLine();

}  // namespace meterload::cli
