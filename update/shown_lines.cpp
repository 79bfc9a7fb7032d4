#include "update/shown_lines.h"

namespace meterload {

std::vector<std::string> ShownLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (line.find_first_not_of(' ') != std::string::npos) {
            lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}

}  // namespace meterload
