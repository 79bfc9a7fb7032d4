// Lists written out on one line: "ABC123, DEF456".
#pragma once

#include <string>
#include <vector>

namespace meterload {

// The text that `text` gives each item, in order, with `separator` between them.
template <class Items, class Text>
std::string Joined(const Items& items, Text text, const std::string& separator = ", ")
{
    std::string joined;
    bool first = true;
    for (const auto& item : items) {
        if (!first) {
            joined += separator;
        }
        joined += text(item);
        first = false;
    }
    return joined;
}

inline std::string Joined(const std::vector<std::string>& items, const std::string& separator = ", ")
{
    return Joined(
        items, [](const std::string& item) { return item; }, separator);
}

}  // namespace meterload
