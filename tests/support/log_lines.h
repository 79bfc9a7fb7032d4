// The log's text as lines: separated by "\r\n", none for an empty log.
#pragma once

#include <string>
#include <vector>

namespace meterload::testing {

inline std::vector<std::string> SplitLogLines(const std::string& text)
{
    std::vector<std::string> lines;
    if (text.empty()) {
        return lines;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

}  // namespace meterload::testing
