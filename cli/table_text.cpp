#include "cli/table_text.h"

#include <cstdio>

namespace meterload::cli {

std::string Cell(std::string text, std::size_t width)
{
    if (text.size() < width) {
        text.resize(width, ' ');
    }
    return text;
}

std::string Seconds(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace meterload::cli
