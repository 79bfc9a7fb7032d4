// How a text handed to the log or to a message box reads as lines: split at
// its line breaks, with empty lines and lines of blanks left out. The
// outcome's texts and the command line's output both keep lines this way.
#pragma once

#include <string>
#include <vector>

namespace meterload {

std::vector<std::string> ShownLines(const std::string& text);

}  // namespace meterload
